// EAPOL-Key frames: the layout of the key descriptor, its key-information
// bits, and the builder of the station's responses (message 2, message 4,
// group message 2) and of the EAPOL-Start frame.
//
// Offsets count from the protocol version byte; multi-byte numbers are
// big-endian.
#pragma once
#include <uefi/Uefi.h>

namespace eapol {

constexpr UINT8 PROTOCOL_VERSION = 1;
constexpr UINT8 PACKET_TYPE_START = 1;
constexpr UINT8 PACKET_TYPE_KEY = 3;

constexpr UINT8 DESCRIPTOR_TYPE_RSN = 2;
constexpr UINT8 DESCRIPTOR_TYPE_WPA = 254;

constexpr UINTN OFFSET_PROTOCOL_VERSION = 0;
constexpr UINTN OFFSET_PACKET_TYPE = 1;
constexpr UINTN OFFSET_BODY_LENGTH = 2;
constexpr UINTN OFFSET_DESCRIPTOR_TYPE = 4;
constexpr UINTN OFFSET_KEY_INFORMATION = 5;
constexpr UINTN OFFSET_KEY_LENGTH = 7;
constexpr UINTN OFFSET_REPLAY_COUNTER = 9;
constexpr UINTN OFFSET_KEY_NONCE = 17;
constexpr UINTN OFFSET_KEY_IV = 49;
constexpr UINTN OFFSET_KEY_RSC = 65;
constexpr UINTN OFFSET_RESERVED = 73;
constexpr UINTN OFFSET_KEY_MIC = 81;
constexpr UINTN OFFSET_KEY_DATA_LENGTH = 97;
constexpr UINTN OFFSET_KEY_DATA = 99;

constexpr UINTN HEADER_SIZE = 4;           // version, type, body length
constexpr UINTN KEY_BODY_FIXED_SIZE = 95;  // descriptor type .. key data length
constexpr UINTN FIXED_SIZE = HEADER_SIZE + KEY_BODY_FIXED_SIZE;
constexpr UINTN START_FRAME_SIZE = HEADER_SIZE;

constexpr UINTN REPLAY_COUNTER_SIZE = 8;
constexpr UINTN NONCE_SIZE = 32;
constexpr UINTN KEY_IV_SIZE = 16;
constexpr UINTN KEY_RSC_SIZE = 8;
constexpr UINTN MIC_SIZE = 16;

// Key-information bits.
constexpr UINT16 KEY_INFO_VERSION_MASK = 0x0007;
constexpr UINT16 KEY_INFO_KEY_TYPE_PAIRWISE = 0x0008;
constexpr UINT16 KEY_INFO_KEY_INDEX_MASK = 0x0030;
constexpr UINT16 KEY_INFO_KEY_INDEX_SHIFT = 4;
constexpr UINT16 KEY_INFO_INSTALL = 0x0040;
constexpr UINT16 KEY_INFO_ACK = 0x0080;
constexpr UINT16 KEY_INFO_MIC = 0x0100;
constexpr UINT16 KEY_INFO_SECURE = 0x0200;
constexpr UINT16 KEY_INFO_ERROR = 0x0400;
constexpr UINT16 KEY_INFO_REQUEST = 0x0800;
constexpr UINT16 KEY_INFO_ENCRYPTED_KEY_DATA = 0x1000;

// Key descriptor versions: how MIC and key data are protected.
constexpr UINT8 VERSION_AKM_DEFINED = 0;  // AES-128-CMAC and AES key wrap here
constexpr UINT8 VERSION_HMAC_MD5_RC4 = 1;
constexpr UINT8 VERSION_HMAC_SHA1_AES = 2;
constexpr UINT8 VERSION_AES_CMAC_AES = 3;

inline UINT16 ReadBe16(const UINT8 *Bytes) { return (UINT16)((Bytes[0] << 8) | Bytes[1]); }
inline VOID WriteBe16(UINT8 *Bytes, UINT16 Value) {
  Bytes[0] = (UINT8)(Value >> 8);
  Bytes[1] = (UINT8)Value;
}

inline UINT16 KeyInformation(const UINT8 *Frame) { return ReadBe16(Frame + OFFSET_KEY_INFORMATION); }
inline UINT8 DescriptorVersion(const UINT8 *Frame) {
  return (UINT8)(KeyInformation(Frame) & KEY_INFO_VERSION_MASK);
}
inline UINT16 KeyDataLength(const UINT8 *Frame) { return ReadBe16(Frame + OFFSET_KEY_DATA_LENGTH); }

// Everything the station chooses for one response frame.
struct RESPONSE {
  UINT8        DescriptorType;
  UINT8        DescriptorVersion;
  UINT16       Flags;      // key-information bits other than the version
  UINT16       KeyLength;
  const UINT8 *ReplayCounter;  // 8 bytes, copied from the frame answered
  const UINT8 *Nonce;          // 32 bytes
  UINT8        ElementId;      // key data: one element, or none when ElementBody is NULL
  const UINT8 *ElementBody;
  UINT8        ElementLength;
  const UINT8 *ExtraElement;  // a whole element after it (id, length, body), or NULL
  UINTN        ExtraElementSize;
  const UINT8 *Kck;  // 16 bytes; the MIC is computed when Flags has KEY_INFO_MIC
};

// Bytes the response takes: the fixed fields plus the elements, if any.
UINTN ResponseSize(const RESPONSE &Response);

// Writes the response (ResponseSize bytes) with its MIC. The caller has
// checked the room.
VOID BuildResponse(const RESPONSE &Response, UINT8 *Buffer);

// Writes an EAPOL-Start frame (START_FRAME_SIZE bytes).
VOID BuildStart(UINT8 *Buffer);

}  // namespace eapol
