#include "EapPacket.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>

namespace eap {

namespace {

UINT16 ReadBe16(const UINT8 *Bytes) { return (UINT16)((Bytes[0] << 8) | Bytes[1]); }
UINT32 ReadBe32(const UINT8 *Bytes) {
  return ((UINT32)Bytes[0] << 24) | ((UINT32)Bytes[1] << 16) | ((UINT32)Bytes[2] << 8) | Bytes[3];
}
VOID WriteBe16(UINT8 *Bytes, UINT16 Value) {
  Bytes[0] = (UINT8)(Value >> 8);
  Bytes[1] = (UINT8)Value;
}
VOID WriteBe32(UINT8 *Bytes, UINT32 Value) {
  WriteBe16(Bytes, (UINT16)(Value >> 16));
  WriteBe16(Bytes + 2, (UINT16)Value);
}

// The EAPOL header and the EAP header of a response of EapLength octets.
VOID WriteHeaders(UINT8 Identifier, UINTN EapLength, UINT8 *Out) {
  Out[0] = EAPOL_VERSION;
  Out[1] = EAPOL_PACKET_TYPE_EAP;
  WriteBe16(Out + 2, (UINT16)EapLength);
  Out[4] = CODE_RESPONSE;
  Out[5] = Identifier;
  WriteBe16(Out + 6, (UINT16)EapLength);
}

UINTN TlsTypeDataLength(const TLS_RESPONSE &Response) {
  UINTN Length = 1 + Response.DataLength;
  if ((Response.Flags & TLS_FLAG_LENGTH) != 0) {
    Length += TLS_LENGTH_FIELD_SIZE;
  }
  return Length;
}

}  // namespace

bool IsEapolEap(const UINT8 *Frame, UINTN FrameSize) {
  return Frame != nullptr && FrameSize >= EAPOL_HEADER_SIZE && Frame[1] == EAPOL_PACKET_TYPE_EAP;
}

bool ParseEapolEap(const UINT8 *Frame, UINTN FrameSize, PACKET *Packet) {
  if (!IsEapolEap(Frame, FrameSize)) {
    return false;
  }
  UINTN BodyLength = ReadBe16(Frame + 2);
  if (BodyLength < EAP_HEADER_SIZE || BodyLength > FrameSize - EAPOL_HEADER_SIZE) {
    return false;
  }
  const UINT8 *Eap = Frame + EAPOL_HEADER_SIZE;
  UINTN EapLength = ReadBe16(Eap + 2);
  if (EapLength != BodyLength) {
    return false;
  }
  Packet->Code = Eap[0];
  Packet->Identifier = Eap[1];
  switch (Packet->Code) {
    case CODE_REQUEST:
    case CODE_RESPONSE:
      if (EapLength < EAP_TYPE_HEADER_SIZE) {
        return false;
      }
      Packet->Type = Eap[4];
      Packet->TypeData = Eap + EAP_TYPE_HEADER_SIZE;
      Packet->TypeDataLength = EapLength - EAP_TYPE_HEADER_SIZE;
      return true;
    case CODE_SUCCESS:
    case CODE_FAILURE:
      Packet->Type = 0;
      Packet->TypeData = nullptr;
      Packet->TypeDataLength = 0;
      return EapLength == EAP_HEADER_SIZE;
    default:
      return false;
  }
}

bool ParseTlsFragment(const PACKET &Packet, TLS_FRAGMENT *Fragment) {
  if (Packet.TypeDataLength < 1) {
    return false;
  }
  Fragment->Flags = Packet.TypeData[0];
  UINTN Header = 1;
  Fragment->MessageLength = 0;
  if (Fragment->Has(TLS_FLAG_LENGTH)) {
    if (Packet.TypeDataLength < 1 + TLS_LENGTH_FIELD_SIZE) {
      return false;
    }
    Fragment->MessageLength = ReadBe32(Packet.TypeData + 1);
    Header += TLS_LENGTH_FIELD_SIZE;
  }
  Fragment->Data = Packet.TypeData + Header;
  Fragment->DataLength = Packet.TypeDataLength - Header;
  return true;
}

UINTN ResponseFrameSize(UINTN TypeDataLength) { return EAPOL_HEADER_SIZE + EAP_TYPE_HEADER_SIZE + TypeDataLength; }

VOID BuildResponseFrame(UINT8 Identifier, UINT8 Type, const UINT8 *Data, UINTN DataLength, UINT8 *Out) {
  WriteHeaders(Identifier, EAP_TYPE_HEADER_SIZE + DataLength, Out);
  Out[EAPOL_HEADER_SIZE + EAP_HEADER_SIZE] = Type;
  if (DataLength != 0) {
    CopyMem(Out + EAPOL_HEADER_SIZE + EAP_TYPE_HEADER_SIZE, Data, DataLength);
  }
}

UINTN TlsResponseFrameSize(const TLS_RESPONSE &Response) { return ResponseFrameSize(TlsTypeDataLength(Response)); }

VOID BuildTlsResponseFrame(UINT8 Identifier, const TLS_RESPONSE &Response, UINT8 *Out) {
  WriteHeaders(Identifier, EAP_TYPE_HEADER_SIZE + TlsTypeDataLength(Response), Out);
  UINT8 *Type = Out + EAPOL_HEADER_SIZE + EAP_HEADER_SIZE;
  Type[0] = EFI_EAP_TYPE_EAPTLS;
  Type[1] = Response.Flags;
  UINT8 *Data = Type + 2;
  if ((Response.Flags & TLS_FLAG_LENGTH) != 0) {
    WriteBe32(Data, Response.MessageLength);
    Data += TLS_LENGTH_FIELD_SIZE;
  }
  if (Response.DataLength != 0) {
    CopyMem(Data, Response.Data, Response.DataLength);
  }
}

// ---------------------------------------------------------------------------
// TLS_REASSEMBLY
// ---------------------------------------------------------------------------

VOID TLS_REASSEMBLY::Reset() {
  if (Buffer_ != nullptr) {
    FreePoolSecure(Buffer_, Total_);
  }
  Buffer_ = nullptr;
  Total_ = 0;
  Received_ = 0;
  Complete_ = false;
}

ASSEMBLY TLS_REASSEMBLY::Accept(const TLS_FRAGMENT &Fragment) {
  // A fragment without data carries nothing to collect; only our own
  // fragments are acknowledged that way, never the server's.
  if (Fragment.DataLength == 0) {
    return ASSEMBLY::Refused;
  }
  return InProgress() ? Continue(Fragment) : Begin(Fragment);
}

ASSEMBLY TLS_REASSEMBLY::Begin(const TLS_FRAGMENT &Fragment) {
  bool More = Fragment.Has(TLS_FLAG_MORE);
  UINT32 Total;
  if (Fragment.Has(TLS_FLAG_LENGTH)) {
    Total = Fragment.MessageLength;
    bool Consistent = More ? Fragment.DataLength < Total : Fragment.DataLength == Total;
    if (Total > TLS_MESSAGE_MAX || !Consistent) {
      return ASSEMBLY::Refused;
    }
  } else {
    // Without L the fragment must be the whole message.
    if (More || Fragment.DataLength > TLS_MESSAGE_MAX) {
      return ASSEMBLY::Refused;
    }
    Total = (UINT32)Fragment.DataLength;
  }
  auto *Buffer = static_cast<UINT8 *>(AllocatePool(Total));
  if (Buffer == nullptr) {
    return ASSEMBLY::OutOfResources;
  }
  Reset();
  Buffer_ = Buffer;
  Total_ = Total;
  CopyMem(Buffer_, Fragment.Data, Fragment.DataLength);
  Received_ = (UINT32)Fragment.DataLength;
  Complete_ = !More;
  return Complete_ ? ASSEMBLY::Complete : ASSEMBLY::NeedMore;
}

ASSEMBLY TLS_REASSEMBLY::Continue(const TLS_FRAGMENT &Fragment) {
  if (Fragment.Has(TLS_FLAG_LENGTH) && Fragment.MessageLength != Total_) {
    return ASSEMBLY::Refused;
  }
  UINTN Room = Total_ - Received_;
  bool More = Fragment.Has(TLS_FLAG_MORE);
  bool Consistent = More ? Fragment.DataLength < Room : Fragment.DataLength == Room;
  if (!Consistent || Fragment.Has(TLS_FLAG_START)) {
    return ASSEMBLY::Refused;
  }
  CopyMem(Buffer_ + Received_, Fragment.Data, Fragment.DataLength);
  Received_ += (UINT32)Fragment.DataLength;
  Complete_ = !More;
  return Complete_ ? ASSEMBLY::Complete : ASSEMBLY::NeedMore;
}

// ---------------------------------------------------------------------------
// TLS_FLIGHT
// ---------------------------------------------------------------------------

VOID TLS_FLIGHT::Reset() {
  if (Buffer_ != nullptr) {
    FreePoolSecure(Buffer_, Capacity_);
  }
  Buffer_ = nullptr;
  Capacity_ = 0;
  Length_ = 0;
  Sent_ = 0;
}

bool TLS_FLIGHT::Append(const UINT8 *Data, UINTN Length) {
  if (Length > TLS_MESSAGE_MAX - Length_) {
    return false;
  }
  UINTN Needed = Length_ + Length;
  if (Needed > Capacity_) {
    // Grows in whole fragments' worth, so a flight of a few records takes a
    // few allocations.
    UINTN Capacity = Capacity_ == 0 ? 4 * TLS_FRAGMENT_DATA : 2 * Capacity_;
    while (Capacity < Needed) {
      Capacity *= 2;
    }
    if (Capacity > TLS_MESSAGE_MAX) {
      Capacity = TLS_MESSAGE_MAX;
    }
    auto *Grown = static_cast<UINT8 *>(AllocatePool(Capacity));
    if (Grown == nullptr) {
      return false;
    }
    if (Buffer_ != nullptr) {
      CopyMem(Grown, Buffer_, Length_);
      FreePoolSecure(Buffer_, Capacity_);
    }
    Buffer_ = Grown;
    Capacity_ = Capacity;
  }
  CopyMem(Buffer_ + Length_, Data, Length);
  Length_ = Needed;
  return true;
}

TLS_RESPONSE TLS_FLIGHT::NextFragment() {
  UINTN Remaining = Length_ - Sent_;
  bool First = Sent_ == 0;
  bool More = Remaining > TLS_FRAGMENT_DATA;
  TLS_RESPONSE Response = {};
  Response.Data = Buffer_ + Sent_;
  Response.DataLength = More ? TLS_FRAGMENT_DATA : Remaining;
  if (More) {
    Response.Flags = TLS_FLAG_MORE;
  }
  if (First && More) {
    Response.Flags |= TLS_FLAG_LENGTH;
    Response.MessageLength = (UINT32)Length_;
  }
  Sent_ += Response.DataLength;
  return Response;
}

}  // namespace eap
