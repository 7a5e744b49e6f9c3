#include "EapTlsFraming.h"

#include "EapAuthenticator.h"

namespace authenticator {
namespace {

UINTN Be32(const UINT8 *Bytes) {
  return (UINTN)Bytes[0] << 24 | (UINTN)Bytes[1] << 16 | (UINTN)Bytes[2] << 8 | Bytes[3];
}
VOID PutBe16(UINT8 *Bytes, UINTN Value) {
  Bytes[0] = (UINT8)(Value >> 8);
  Bytes[1] = (UINT8)Value;
}
VOID Copy(UINT8 *To, const UINT8 *From, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    To[Index] = From[Index];
  }
}

}  // namespace

UINTN BuildEapTlsRequest(UINT8 Identifier, UINT8 Flags, UINTN MessageLength, const UINT8 *Data, UINTN DataLength,
                         UINT8 *Out, UINTN Capacity) {
  bool WithLength = (Flags & EAP_TLS_FLAG_LENGTH) != 0;
  UINTN Header = EAP_TLS_HEADER_LEN + (WithLength ? EAP_TLS_LENGTH_FIELD : 0);
  UINTN Length = Header + DataLength;
  if (Length > Capacity || Length > EAP_MAX_PACKET_LEN) {
    return 0;
  }
  Out[0] = EAP_CODE_REQUEST;
  Out[1] = Identifier;
  PutBe16(Out + 2, Length);
  Out[4] = EAP_TYPE_TLS;
  Out[5] = Flags;
  if (WithLength) {
    PutBe16(Out + EAP_TLS_HEADER_LEN, MessageLength >> 16);
    PutBe16(Out + EAP_TLS_HEADER_LEN + 2, MessageLength);
  }
  Copy(Out + Header, Data, DataLength);
  return Length;
}

UINTN BuildEapTlsFragment(UINT8 Identifier, const UINT8 *Message, UINTN MessageLength, UINTN *Sent, UINTN Mtu,
                          UINT8 *Out, UINTN Capacity) {
  if (Mtu < EAP_TLS_MIN_MTU || *Sent >= MessageLength) {
    return 0;
  }
  UINTN Left = MessageLength - *Sent;
  bool First = *Sent == 0;
  bool Fragmented = !(First && Left <= Mtu - EAP_TLS_HEADER_LEN);
  bool WithLength = First && Fragmented;
  UINTN Room = Mtu - EAP_TLS_HEADER_LEN - (WithLength ? EAP_TLS_LENGTH_FIELD : 0);
  UINTN Count = Left < Room ? Left : Room;
  UINT8 Flags = (UINT8)((WithLength ? EAP_TLS_FLAG_LENGTH : 0) | (Count < Left ? EAP_TLS_FLAG_MORE : 0));
  UINTN Length = BuildEapTlsRequest(Identifier, Flags, MessageLength, Message + *Sent, Count, Out, Capacity);
  if (Length != 0) {
    *Sent += Count;
  }
  return Length;
}

VOID EapTlsReassembler::Reset() {
  Length_ = 0;
  Expected_ = 0;
  Started_ = false;
}

REASSEMBLY EapTlsReassembler::Take(const UINT8 *Eap, UINTN Length) {
  if (Length < EAP_TLS_HEADER_LEN) {
    return REASSEMBLY::Malformed;
  }
  UINT8 Flags = Eap[5];
  UINTN Offset = EAP_TLS_HEADER_LEN;
  if ((Flags & EAP_TLS_FLAG_LENGTH) != 0) {
    if (Length < EAP_TLS_HEADER_LEN + EAP_TLS_LENGTH_FIELD) {
      return REASSEMBLY::Malformed;
    }
    UINTN Total = Be32(Eap + EAP_TLS_HEADER_LEN);
    if (Total > EAP_TLS_MAX_MESSAGE) {
      return REASSEMBLY::TooLong;
    }
    // Some peers repeat L on every fragment; it must not change.
    if (Started_ && Expected_ != Total) {
      return REASSEMBLY::Inconsistent;
    }
    Expected_ = Total;
    Offset += EAP_TLS_LENGTH_FIELD;
  }
  UINTN Count = Length - Offset;
  if (Count > EAP_TLS_MAX_MESSAGE - Length_ || (Expected_ != 0 && Length_ + Count > Expected_)) {
    return REASSEMBLY::TooLong;
  }
  bool More = (Flags & EAP_TLS_FLAG_MORE) != 0;
  if (More && Count == 0) {
    return REASSEMBLY::Inconsistent;
  }
  Copy(Buffer_ + Length_, Eap + Offset, Count);
  Length_ += Count;
  Started_ = true;
  if (More) {
    return REASSEMBLY::More;
  }
  if (Expected_ != 0 && Length_ != Expected_) {
    return REASSEMBLY::Inconsistent;
  }
  return REASSEMBLY::Complete;
}

}  // namespace authenticator
