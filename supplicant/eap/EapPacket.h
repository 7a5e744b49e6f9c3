// EAP over EAPOL (RFC 3748 carried in EAPOL-Packet frames) and the EAP-TLS
// framing of RFC 5216: parsing of received requests, building of the
// station's responses, reassembly of fragmented TLS messages and
// fragmentation of our own.
//
// Offsets count from the EAPOL protocol version byte; multi-byte numbers are
// big-endian. Nothing here allocates except TLS_REASSEMBLY and TLS_FLIGHT,
// which keep their message in pool memory they clear before freeing.
#pragma once
#include <uefi/Uefi.h>
#include <uefi/Protocol/EapConfiguration.h>

namespace eap {

constexpr UINT8 EAPOL_VERSION = 1;
constexpr UINT8 EAPOL_PACKET_TYPE_EAP = 0;
constexpr UINTN EAPOL_HEADER_SIZE = 4;  // version, packet type, body length

constexpr UINT8 CODE_REQUEST = 1;
constexpr UINT8 CODE_RESPONSE = 2;
constexpr UINT8 CODE_SUCCESS = 3;
constexpr UINT8 CODE_FAILURE = 4;

constexpr UINTN EAP_HEADER_SIZE = 4;  // code, identifier, length
constexpr UINTN EAP_TYPE_HEADER_SIZE = EAP_HEADER_SIZE + 1;

// EAP-TLS flags octet.
constexpr UINT8 TLS_FLAG_LENGTH = 0x80;  // L: the four-octet TLS message length follows
constexpr UINT8 TLS_FLAG_MORE = 0x40;    // M: more fragments follow
constexpr UINT8 TLS_FLAG_START = 0x20;   // S: EAP-TLS start
constexpr UINTN TLS_LENGTH_FIELD_SIZE = 4;

// The largest TLS message (one flight, reassembled) either side may send.
// A server's flight with a long certificate chain stays far below it; a
// peer announcing more is refused before anything is allocated.
constexpr UINT32 TLS_MESSAGE_MAX = 64 * 1024;

// TLS data octets in each of our fragments. With the EAP-TLS header and the
// length field the first fragment is a 1030-octet EAP packet: it fits one
// RADIUS packet on a 1500-octet Ethernet link once the access point relays
// it, and any Wi-Fi frame.
constexpr UINTN TLS_FRAGMENT_DATA = 1020;

// The longest response this station builds: an EAPOL header, the EAP-TLS
// header with the length field, one fragment.
constexpr UINTN MAX_RESPONSE_FRAME =
    EAPOL_HEADER_SIZE + EAP_TYPE_HEADER_SIZE + 1 + TLS_LENGTH_FIELD_SIZE + TLS_FRAGMENT_DATA;

// One received EAP packet whose lengths agree with the EAPOL frame around it.
struct PACKET {
  UINT8        Code;
  UINT8        Identifier;
  UINT8        Type;  // requests and responses only
  const UINT8 *TypeData;
  UINTN        TypeDataLength;
};

// An EAPOL frame of packet type EAP-Packet carrying one EAP packet: the EAPOL
// body lies within the frame (octets after it are link padding), the EAP
// length equals the EAPOL body length, requests and responses carry a type,
// success and failure carry nothing else.
bool ParseEapolEap(const UINT8 *Frame, UINTN FrameSize, PACKET *Packet);

// True when the frame is an EAPOL frame of packet type EAP-Packet (whatever
// it holds): such frames belong to the EAP layer, not the key handshake.
bool IsEapolEap(const UINT8 *Frame, UINTN FrameSize);

// The EAP-TLS fields of a request of type 13.
struct TLS_FRAGMENT {
  UINT8        Flags;
  UINT32       MessageLength;  // valid when Flags has TLS_FLAG_LENGTH
  const UINT8 *Data;
  UINTN        DataLength;

  bool Has(UINT8 Flag) const { return (Flags & Flag) != 0; }
};

// The flags octet, the length field when L is set, the data after them.
bool ParseTlsFragment(const PACKET &Packet, TLS_FRAGMENT *Fragment);

// An EAP-Response of one type in an EAPOL frame: Data after the type octet.
UINTN ResponseFrameSize(UINTN TypeDataLength);
VOID  BuildResponseFrame(UINT8 Identifier, UINT8 Type, const UINT8 *Data, UINTN DataLength, UINT8 *Out);

// An EAP-TLS response: the flags, the length field when Flags has L, then
// the fragment's data.
struct TLS_RESPONSE {
  UINT8        Flags;
  UINT32       MessageLength;
  const UINT8 *Data;
  UINTN        DataLength;
};
UINTN TlsResponseFrameSize(const TLS_RESPONSE &Response);
VOID  BuildTlsResponseFrame(UINT8 Identifier, const TLS_RESPONSE &Response, UINT8 *Out);

// ---------------------------------------------------------------------------
// Reassembly of one inbound TLS message
// ---------------------------------------------------------------------------

enum class ASSEMBLY { NeedMore, Complete, Refused, OutOfResources };

// Collects the fragments of one TLS message from the server. The first
// fragment of a fragmented message must carry L (the total), later ones may
// repeat it but not change it; the fragments may not run past the total nor
// end short of it; no total beyond TLS_MESSAGE_MAX. An unfragmented message
// may come with or without L. A refused fragment leaves the collection as it
// was.
class TLS_REASSEMBLY {
 public:
  TLS_REASSEMBLY() = default;
  TLS_REASSEMBLY(const TLS_REASSEMBLY &) = delete;
  TLS_REASSEMBLY &operator=(const TLS_REASSEMBLY &) = delete;
  ~TLS_REASSEMBLY() { Reset(); }

  ASSEMBLY Accept(const TLS_FRAGMENT &Fragment);
  bool InProgress() const { return Buffer_ != nullptr && !Complete_; }
  // The whole message once Accept said Complete.
  const UINT8 *Message() const { return Buffer_; }
  UINTN        Length() const { return Received_; }
  // Forgets (and clears) the message.
  VOID Reset();

 private:
  ASSEMBLY Begin(const TLS_FRAGMENT &Fragment);
  ASSEMBLY Continue(const TLS_FRAGMENT &Fragment);

  UINT8 *Buffer_ = nullptr;
  UINT32 Total_ = 0;
  UINT32 Received_ = 0;
  bool   Complete_ = false;
};

// ---------------------------------------------------------------------------
// Our outbound TLS flight and its fragments
// ---------------------------------------------------------------------------

// What the TLS client writes during one step of its handshake, sent in
// fragments of TLS_FRAGMENT_DATA octets: the first of a fragmented message
// with L and M, the middle ones with M, the last with neither; a message that
// fits one fragment goes without any flag.
class TLS_FLIGHT {
 public:
  TLS_FLIGHT() = default;
  TLS_FLIGHT(const TLS_FLIGHT &) = delete;
  TLS_FLIGHT &operator=(const TLS_FLIGHT &) = delete;
  ~TLS_FLIGHT() { Reset(); }

  // Appends to the flight; false when the pool is exhausted or the flight
  // would pass TLS_MESSAGE_MAX (the flight is then unchanged).
  bool Append(const UINT8 *Data, UINTN Length);
  UINTN Length() const { return Length_; }
  // Fragments not yet handed out.
  bool Pending() const { return Sent_ < Length_; }
  // The next fragment; Pending() must hold.
  TLS_RESPONSE NextFragment();
  // Forgets (and clears) the flight.
  VOID Reset();

 private:
  UINT8 *Buffer_ = nullptr;
  UINTN  Capacity_ = 0;
  UINTN  Length_ = 0;
  UINTN  Sent_ = 0;
};

}  // namespace eap
