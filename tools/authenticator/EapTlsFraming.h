// EAP-TLS framing on the server's side (RFC 5216 3.1-3.3): one TLS message
// cut into EAP-Requests of at most an MTU, and the station's fragments put
// back together. Freestanding, no TLS in it.
#pragma once
#include <uefi/Base.h>

namespace authenticator {

// Largest TLS message (one flight) taken from the station or sent to it.
constexpr UINTN EAP_TLS_MAX_MESSAGE = 16384;
// EAP header, type, flags; the TLS message length with the L flag.
constexpr UINTN EAP_TLS_HEADER_LEN = 6;
constexpr UINTN EAP_TLS_LENGTH_FIELD = 4;
constexpr UINT8 EAP_TLS_FLAG_LENGTH = 0x80;
constexpr UINT8 EAP_TLS_FLAG_MORE = 0x40;
constexpr UINT8 EAP_TLS_FLAG_START = 0x20;
// The smallest MTU that leaves room for data after the longest header.
constexpr UINTN EAP_TLS_MIN_MTU = EAP_TLS_HEADER_LEN + EAP_TLS_LENGTH_FIELD + 1;

// An EAP-Request/EAP-TLS with Identifier, Flags and Data (the message
// length field first when Flags has L: MessageLength). Returns its length;
// 0 when it exceeds Capacity.
UINTN BuildEapTlsRequest(UINT8 Identifier, UINT8 Flags, UINTN MessageLength, const UINT8 *Data, UINTN DataLength,
                         UINT8 *Out, UINTN Capacity);

// The request carrying Message from offset *Sent on: the whole rest when
// it fits one packet of Mtu octets (no flags), else as much as fits, with
// L and the total length on the first fragment and M on every fragment but
// the last. Advances *Sent; returns the packet's length (0 when Capacity or
// Mtu cannot hold a fragment).
UINTN BuildEapTlsFragment(UINT8 Identifier, const UINT8 *Message, UINTN MessageLength, UINTN *Sent, UINTN Mtu,
                          UINT8 *Out, UINTN Capacity);

enum class REASSEMBLY : UINT8 {
  More,         // M set: acknowledge and wait for the next fragment
  Complete,     // the message is whole
  Malformed,    // header cut short, L without its length
  TooLong,      // over EAP_TLS_MAX_MESSAGE, or past the length L announced
  Inconsistent  // L changed between fragments, an empty fragment with M, or shorter than L said
};

// The station's TLS message from its EAP-TLS responses.
class EapTlsReassembler {
 public:
  // Takes one EAP-Response/EAP-TLS (whole EAP packet, length checked by the
  // caller) that carries data or flags; not for bare acknowledgements.
  REASSEMBLY   Take(const UINT8 *Eap, UINTN Length);
  const UINT8 *Message() const { return Buffer_; }
  UINTN        MessageLength() const { return Length_; }
  VOID         Reset();

 private:
  UINT8 Buffer_[EAP_TLS_MAX_MESSAGE] = {};
  UINTN Length_ = 0;
  UINTN Expected_ = 0;  // from the L flag; 0 when not given
  bool  Started_ = false;
};

}  // namespace authenticator
