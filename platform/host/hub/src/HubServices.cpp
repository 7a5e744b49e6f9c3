// The platform services the driver calls: both PCD protocols over one token
// database, the HOB list, the DXE services table over a small GCD map, the
// S3 save state and SMM communication protocols as recorders, debug print
// and the IDS hook extension.
#include "HubInternal.h"

#include <HostEnv/Text.h>
#include <Library/PrintLib.h>
#include <uefi/Pi/PiHob.h>

#include "Protocol/QuorSmmBootScript.h"

#include <algorithm>
#include <cstring>

namespace HubSim {
namespace {

HubPlatform::Internals &In() { return HubPlatform::Active().Inside(); }

constexpr EFI_GUID kDefaultSpace = {};

// What the driver hands the IDS hook extension: the record {0, data} and, for
// the NV table hook, the request the data points at.
struct IdsHookRecord {
  UINT64 Reserved;
  VOID  *Data;
};
struct IdsNvTableRequest {
  VOID   *Buffer;
  UINT32 *Size;
};

// ---------------------------------------------------------------------------
// PCD database
// ---------------------------------------------------------------------------
PcdValue *FindPcd(const EFI_GUID *Space, UINTN Token) {
  auto &Db = In();
  if (Space == nullptr) {
    auto Found = Db.Pcds.find(Token);
    return Found != Db.Pcds.end() ? &Found->second : nullptr;
  }
  auto Found = Db.PcdsEx.find(PcdExKey{*Space, Token});
  return Found != Db.PcdsEx.end() ? &Found->second : nullptr;
}

// A read at another width than the token's reads 0 and is noted, so that a
// driver reading a token wrongly shows up instead of getting a truncation.
UINT64 GetNumber(const EFI_GUID *Space, UINTN Token, PcdType Type) {
  const PcdValue *Value = FindPcd(Space, Token);
  if (Value == nullptr) {
    return 0;
  }
  if (Value->Type != Type) {
    In().PcdMismatches.push_back({Space != nullptr, Space != nullptr ? *Space : kDefaultSpace, Token, Type,
                                  Value->Type});
    return 0;
  }
  return Value->Value;
}

UINT64 Truncate(PcdType Type, UINT64 Value) {
  switch (Type) {
    case PcdType::U8: return Value & 0xFF;
    case PcdType::U16: return Value & 0xFFFF;
    case PcdType::U32: return Value & 0xFFFFFFFF;
    case PcdType::Bool: return Value != 0 ? 1 : 0;
    default: return Value;
  }
}

const char *TypeName(PcdType Type) {
  switch (Type) {
    case PcdType::U8: return "8";
    case PcdType::U16: return "16";
    case PcdType::U32: return "32";
    case PcdType::U64: return "64";
    case PcdType::Bool: return "bool";
    case PcdType::Ptr: return "ptr";
  }
  return "?";
}

std::string HexBytes(const UINT8 *Bytes, size_t Size) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Text;
  for (size_t Index = 0; Index < Size; ++Index) {
    Text += Digits[Bytes[Index] >> 4];
    Text += Digits[Bytes[Index] & 0xF];
  }
  return Text;
}

void RecordSet(const EFI_GUID *Space, UINTN Token, PcdType Type, UINT64 Value, const UINT8 *Bytes, size_t Size,
               EFI_STATUS Status) {
  auto &Db = In();
  PcdSetRecord Record{Space != nullptr, Space != nullptr ? *Space : kDefaultSpace, Token, Type, Value, {}, Status};
  if (Bytes != nullptr) {
    Record.Bytes.assign(Bytes, Bytes + Size);
  }
  Db.PcdSets.push_back(Record);
  std::vector<EventField> Fields = {Number("token", Token), Text("type", TypeName(Type))};
  if (Space != nullptr) {
    Fields.insert(Fields.begin(), Text("space", HostEnv::GuidToString(*Space)));
  }
  Fields.push_back(Type == PcdType::Ptr ? Text("bytes", HexBytes(Bytes, Size)) : Hex("value", Value));
  Fields.push_back(Text("status", HostEnv::StatusToString(Status)));
  Db.Event("pcd-set", std::move(Fields));
}

// Sets of tokens the database does not know create them with the set's type:
// the driver stores its own addresses (PCD 778/779) that way.
EFI_STATUS SetNumber(const EFI_GUID *Space, UINTN Token, PcdType Type, UINT64 Value) {
  PcdValue *Existing = FindPcd(Space, Token);
  EFI_STATUS Status = EFI_SUCCESS;
  if (Existing == nullptr) {
    PcdValue Created = PcdValue::Number(Type, Truncate(Type, Value));
    if (Space == nullptr) {
      In().Pcds[Token] = Created;
    } else {
      In().PcdsEx[PcdExKey{*Space, Token}] = Created;
    }
  } else if (Existing->Type != Type) {
    Status = EFI_INVALID_PARAMETER;
  } else {
    Existing->Value = Truncate(Type, Value);
  }
  RecordSet(Space, Token, Type, Truncate(Type, Value), nullptr, 0, Status);
  return Status;
}

EFI_STATUS SetPointer(const EFI_GUID *Space, UINTN Token, UINTN *Size, VOID *Buffer) {
  if (Size == nullptr || (Buffer == nullptr && *Size != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  PcdValue *Existing = FindPcd(Space, Token);
  EFI_STATUS Status = EFI_SUCCESS;
  const UINT8 *Bytes = static_cast<const UINT8 *>(Buffer);
  const UINTN Requested = *Size;
  if (Existing == nullptr) {
    PcdValue Created = PcdValue::Pointer(std::vector<UINT8>(Bytes, Bytes + *Size));
    if (Space == nullptr) {
      In().Pcds[Token] = Created;
    } else {
      In().PcdsEx[PcdExKey{*Space, Token}] = Created;
    }
  } else if (Existing->Type != PcdType::Ptr) {
    Status = EFI_INVALID_PARAMETER;
  } else if (*Size > Existing->MaxSize) {
    *Size = Existing->MaxSize;
    Status = EFI_INVALID_PARAMETER;
  } else {
    // In place: pointers the driver got earlier stay valid.
    std::memcpy(Existing->Bytes.data(), Bytes, *Size);
  }
  RecordSet(Space, Token, PcdType::Ptr, 0, Bytes, Requested, Status);
  return Status;
}

VOID *GetPointer(const EFI_GUID *Space, UINTN Token) {
  PcdValue *Value = FindPcd(Space, Token);
  if (Value == nullptr || Value->Type != PcdType::Ptr) {
    return nullptr;
  }
  if (Value->Bytes.size() < Value->MaxSize) {
    Value->Bytes.resize(Value->MaxSize, 0);
  }
  return Value->Bytes.data();
}

UINTN GetSize(const EFI_GUID *Space, UINTN Token) {
  const PcdValue *Value = FindPcd(Space, Token);
  if (Value == nullptr) {
    return 0;
  }
  switch (Value->Type) {
    case PcdType::U8:
    case PcdType::Bool: return 1;
    case PcdType::U16: return 2;
    case PcdType::U32: return 4;
    case PcdType::U64: return 8;
    case PcdType::Ptr: return Value->MaxSize;
  }
  return 0;
}

// PCD_PROTOCOL: default token space by number, ...Ex by GUID.
VOID EFIAPI PcdSetSku(UINTN) {}
UINT8 EFIAPI PcdGet8(UINTN Token) { return static_cast<UINT8>(GetNumber(nullptr, Token, PcdType::U8)); }
UINT16 EFIAPI PcdGet16(UINTN Token) { return static_cast<UINT16>(GetNumber(nullptr, Token, PcdType::U16)); }
UINT32 EFIAPI PcdGet32(UINTN Token) { return static_cast<UINT32>(GetNumber(nullptr, Token, PcdType::U32)); }
UINT64 EFIAPI PcdGet64(UINTN Token) { return GetNumber(nullptr, Token, PcdType::U64); }
VOID *EFIAPI PcdGetPtr(UINTN Token) { return GetPointer(nullptr, Token); }
BOOLEAN EFIAPI PcdGetBool(UINTN Token) { return GetNumber(nullptr, Token, PcdType::Bool) != 0; }
UINTN EFIAPI PcdGetSize(UINTN Token) { return GetSize(nullptr, Token); }
UINT8 EFIAPI PcdGet8Ex(const EFI_GUID *G, UINTN T) { return static_cast<UINT8>(GetNumber(G, T, PcdType::U8)); }
UINT16 EFIAPI PcdGet16Ex(const EFI_GUID *G, UINTN T) { return static_cast<UINT16>(GetNumber(G, T, PcdType::U16)); }
UINT32 EFIAPI PcdGet32Ex(const EFI_GUID *G, UINTN T) { return static_cast<UINT32>(GetNumber(G, T, PcdType::U32)); }
UINT64 EFIAPI PcdGet64Ex(const EFI_GUID *G, UINTN T) { return GetNumber(G, T, PcdType::U64); }
VOID *EFIAPI PcdGetPtrEx(const EFI_GUID *G, UINTN T) { return GetPointer(G, T); }
BOOLEAN EFIAPI PcdGetBoolEx(const EFI_GUID *G, UINTN T) { return GetNumber(G, T, PcdType::Bool) != 0; }
UINTN EFIAPI PcdGetSizeEx(const EFI_GUID *G, UINTN T) { return GetSize(G, T); }
EFI_STATUS EFIAPI PcdSet8(UINTN T, UINT8 V) { return SetNumber(nullptr, T, PcdType::U8, V); }
EFI_STATUS EFIAPI PcdSet16(UINTN T, UINT16 V) { return SetNumber(nullptr, T, PcdType::U16, V); }
EFI_STATUS EFIAPI PcdSet32(UINTN T, UINT32 V) { return SetNumber(nullptr, T, PcdType::U32, V); }
EFI_STATUS EFIAPI PcdSet64(UINTN T, UINT64 V) { return SetNumber(nullptr, T, PcdType::U64, V); }
EFI_STATUS EFIAPI PcdSetPtr(UINTN T, UINTN *S, VOID *B) { return SetPointer(nullptr, T, S, B); }
EFI_STATUS EFIAPI PcdSetBool(UINTN T, BOOLEAN V) { return SetNumber(nullptr, T, PcdType::Bool, V); }
EFI_STATUS EFIAPI PcdSet8Ex(const EFI_GUID *G, UINTN T, UINT8 V) { return SetNumber(G, T, PcdType::U8, V); }
EFI_STATUS EFIAPI PcdSet16Ex(const EFI_GUID *G, UINTN T, UINT16 V) { return SetNumber(G, T, PcdType::U16, V); }
EFI_STATUS EFIAPI PcdSet32Ex(const EFI_GUID *G, UINTN T, UINT32 V) { return SetNumber(G, T, PcdType::U32, V); }
EFI_STATUS EFIAPI PcdSet64Ex(const EFI_GUID *G, UINTN T, UINT64 V) { return SetNumber(G, T, PcdType::U64, V); }
EFI_STATUS EFIAPI PcdSetPtrEx(const EFI_GUID *G, UINTN T, UINTN *S, VOID *B) { return SetPointer(G, T, S, B); }
EFI_STATUS EFIAPI PcdSetBoolEx(const EFI_GUID *G, UINTN T, BOOLEAN V) { return SetNumber(G, T, PcdType::Bool, V); }
EFI_STATUS EFIAPI PcdCallback(const EFI_GUID *, UINTN, PCD_PROTOCOL_CALLBACK) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI PcdNextToken(const EFI_GUID *, UINTN *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI PcdNextSpace(const EFI_GUID **) { return EFI_UNSUPPORTED; }

// EFI_PCD_PROTOCOL: always a named space (NULL means the default one).
UINT8 EFIAPI EfiGet8(const EFI_GUID *G, UINTN T) { return static_cast<UINT8>(GetNumber(G, T, PcdType::U8)); }
UINT16 EFIAPI EfiGet16(const EFI_GUID *G, UINTN T) { return static_cast<UINT16>(GetNumber(G, T, PcdType::U16)); }
UINT32 EFIAPI EfiGet32(const EFI_GUID *G, UINTN T) { return static_cast<UINT32>(GetNumber(G, T, PcdType::U32)); }
UINT64 EFIAPI EfiGet64(const EFI_GUID *G, UINTN T) { return GetNumber(G, T, PcdType::U64); }
VOID *EFIAPI EfiGetPtr(const EFI_GUID *G, UINTN T) { return GetPointer(G, T); }
BOOLEAN EFIAPI EfiGetBool(const EFI_GUID *G, UINTN T) { return GetNumber(G, T, PcdType::Bool) != 0; }
UINTN EFIAPI EfiGetSize(const EFI_GUID *G, UINTN T) { return GetSize(G, T); }
EFI_STATUS EFIAPI EfiCallback(const EFI_GUID *, UINTN, EFI_PCD_PROTOCOL_CALLBACK) { return EFI_UNSUPPORTED; }

// ---------------------------------------------------------------------------
// DXE services: GCD memory space
// ---------------------------------------------------------------------------
bool InsideSpace(UINT64 Base, UINT64 Length, EFI_GCD_MEMORY_TYPE Type, bool AnyType) {
  for (const GcdSpace &Space : In().Settings.Gcd) {
    if ((AnyType || Space.Type == Type) && Base >= Space.Base && Length <= Space.Length &&
        Base - Space.Base <= Space.Length - Length) {
      return true;
    }
  }
  return false;
}

bool Overlaps(UINT64 Base, UINT64 Length) {
  for (const GcdAllocation &Taken : In().GcdAllocations) {
    if (Base < Taken.Base + Taken.Length && Taken.Base < Base + Length) {
      return true;
    }
  }
  return false;
}

void RecordGcd(GcdOperation Operation) {
  auto &Db = In();
  std::vector<EventField> Fields = {Text("op", Operation.Operation), Hex("base", Operation.Base),
                                    Hex("length", Operation.Length)};
  if (Operation.Operation == "set-attributes") {
    Fields.push_back(Hex("attributes", Operation.Attributes));
  }
  Fields.push_back(Text("status", HostEnv::StatusToString(Operation.Status)));
  Db.GcdOperations.push_back(std::move(Operation));
  Db.Event("gcd", std::move(Fields));
}

EFI_STATUS EFIAPI GcdAllocateMemorySpace(EFI_GCD_ALLOCATE_TYPE AllocateType, EFI_GCD_MEMORY_TYPE Type,
                                         UINTN Alignment, UINT64 Length, EFI_PHYSICAL_ADDRESS *Base,
                                         EFI_HANDLE ImageHandle, EFI_HANDLE) {
  EFI_STATUS Status = EFI_SUCCESS;
  UINT64 Wanted = Base != nullptr ? *Base : 0;
  if (Base == nullptr || Length == 0 || ImageHandle == nullptr || Type >= EfiGcdMemoryTypeMaximum) {
    Status = EFI_INVALID_PARAMETER;
  } else if (AllocateType != EfiGcdAllocateAddress) {
    Status = EFI_UNSUPPORTED;  // this map only places allocations where asked
  } else if ((Alignment != 0 && (Wanted & ((1ULL << Alignment) - 1)) != 0) || Length > ~0ULL - Wanted) {
    Status = EFI_INVALID_PARAMETER;
  } else if (!InsideSpace(Wanted, Length, Type, false) || Overlaps(Wanted, Length)) {
    Status = EFI_NOT_FOUND;
  } else {
    In().GcdAllocations.push_back({Wanted, Length, Type, 0});
  }
  GcdOperation Operation{"allocate", Wanted, Length, 0, Type, ImageHandle, Status};
  RecordGcd(Operation);
  return Status;
}

EFI_STATUS EFIAPI GcdSetMemorySpaceAttributes(EFI_PHYSICAL_ADDRESS Base, UINT64 Length, UINT64 Attributes) {
  EFI_STATUS Status = EFI_SUCCESS;
  if (Length == 0 || Length > ~0ULL - Base) {
    Status = EFI_INVALID_PARAMETER;
  } else if (!InsideSpace(Base, Length, EfiGcdMemoryTypeNonExistent, true)) {
    Status = EFI_UNSUPPORTED;
  } else {
    for (GcdAllocation &Taken : In().GcdAllocations) {
      if (Base < Taken.Base + Taken.Length && Taken.Base < Base + Length) {
        Taken.Attributes = Attributes;
      }
    }
  }
  RecordGcd(GcdOperation{"set-attributes", Base, Length, Attributes, EfiGcdMemoryTypeNonExistent, nullptr, Status});
  return Status;
}

// ---------------------------------------------------------------------------
// S3 save state protocol: records every Write
// ---------------------------------------------------------------------------
UINT64 ReadUnit(const UINT8 *Buffer, UINT32 Width) {
  UINT64 Value = 0;
  std::memcpy(&Value, Buffer, size_t(1) << (Width & 3));
  return Value;
}

UINTN UnitsToRead(UINT32 Width, UINTN Count) {
  return (Width >= EfiBootScriptWidthFillUint8 && Width <= EfiBootScriptWidthFillUint64) ? 1 : Count;
}

const char *OpCodeName(UINTN OpCode) {
  switch (OpCode) {
    case EFI_BOOT_SCRIPT_IO_WRITE_OPCODE: return "io-write";
    case EFI_BOOT_SCRIPT_IO_READ_WRITE_OPCODE: return "io-read-write";
    case EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE: return "mem-write";
    case EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE: return "mem-read-write";
    case EFI_BOOT_SCRIPT_PCI_CONFIG_WRITE_OPCODE: return "pci-config-write";
    case EFI_BOOT_SCRIPT_PCI_CONFIG_READ_WRITE_OPCODE: return "pci-config-read-write";
    default: return "other";
  }
}

EFI_STATUS EFIAPI S3Write(const EFI_S3_SAVE_STATE_PROTOCOL *, UINTN OpCode, ...) {
  BootScriptEntry Entry{OpCode, 0, 0, 0, {}, false};
  EFI_VA_LIST Marker;
  EFI_VA_START(Marker, OpCode);
  EFI_STATUS Status = EFI_SUCCESS;
  switch (OpCode) {
    case EFI_BOOT_SCRIPT_IO_WRITE_OPCODE:
    case EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE:
    case EFI_BOOT_SCRIPT_PCI_CONFIG_WRITE_OPCODE: {
      Entry.Width = EFI_VA_ARG(Marker, UINT32);  // the enumeration arrives promoted to int
      Entry.Address = EFI_VA_ARG(Marker, UINT64);
      Entry.Count = EFI_VA_ARG(Marker, UINTN);
      const UINT8 *Buffer = EFI_VA_ARG(Marker, const UINT8 *);
      if (Entry.Width >= EfiBootScriptWidthMaximum || Buffer == nullptr || Entry.Count == 0) {
        Status = EFI_INVALID_PARAMETER;
        break;
      }
      // Plain and FIFO writes take Count units from the buffer, FILL one.
      UINTN Step = size_t(1) << (Entry.Width & 3);
      for (UINTN Unit = 0; Unit < UnitsToRead(Entry.Width, Entry.Count); ++Unit) {
        Entry.Values.push_back(ReadUnit(Buffer + Unit * Step, Entry.Width));
      }
      break;
    }
    case EFI_BOOT_SCRIPT_IO_READ_WRITE_OPCODE:
    case EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE:
    case EFI_BOOT_SCRIPT_PCI_CONFIG_READ_WRITE_OPCODE: {
      Entry.Width = EFI_VA_ARG(Marker, UINT32);  // the enumeration arrives promoted to int
      Entry.Address = EFI_VA_ARG(Marker, UINT64);
      const UINT8 *Data = EFI_VA_ARG(Marker, const UINT8 *);
      const UINT8 *Mask = EFI_VA_ARG(Marker, const UINT8 *);
      if (Entry.Width >= EfiBootScriptWidthMaximum || Data == nullptr || Mask == nullptr) {
        Status = EFI_INVALID_PARAMETER;
        break;
      }
      Entry.Values = {ReadUnit(Data, Entry.Width), ReadUnit(Mask, Entry.Width)};
      break;
    }
    default:
      // The driver records no other kind; refusing it keeps the record honest.
      Status = EFI_UNSUPPORTED;
      break;
  }
  EFI_VA_END(Marker);

  auto &Db = In();
  std::vector<EventField> Fields = {Text("opcode", OpCodeName(OpCode)), Number("width", Entry.Width),
                                    Hex("address", Entry.Address)};
  if (!EFI_ERROR(Status)) {
    if (Entry.Count != 0) {
      Fields.push_back(Number("count", Entry.Count));
    }
    for (size_t Index = 0; Index < Entry.Values.size(); ++Index) {
      bool IsMask = Entry.Count == 0 && Index == 1;
      Fields.push_back(Hex(IsMask ? "mask" : (Entry.Count == 0 ? "data" : "value"), Entry.Values[Index]));
    }
    Db.BootScript.push_back(Entry);
  }
  Fields.push_back(Text("status", HostEnv::StatusToString(Status)));
  Db.Event("boot-script", std::move(Fields));
  return Status;
}

EFI_STATUS EFIAPI S3Insert(const EFI_S3_SAVE_STATE_PROTOCOL *, BOOLEAN, EFI_S3_BOOT_SCRIPT_POSITION *, UINTN, ...) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI S3Label(const EFI_S3_SAVE_STATE_PROTOCOL *, BOOLEAN, BOOLEAN, EFI_S3_BOOT_SCRIPT_POSITION *,
                          const CHAR8 *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI S3Compare(const EFI_S3_SAVE_STATE_PROTOCOL *, EFI_S3_BOOT_SCRIPT_POSITION,
                            EFI_S3_BOOT_SCRIPT_POSITION, UINTN *) {
  return EFI_UNSUPPORTED;
}

// ---------------------------------------------------------------------------
// SMM communication: records every message, as the SMM handlers would see it
// ---------------------------------------------------------------------------
constexpr size_t kCommHeaderSize = 24;

template <typename T>
T ReadAt(const void *Base, size_t Offset) {
  T Value;
  std::memcpy(&Value, static_cast<const UINT8 *>(Base) + Offset, sizeof(T));
  return Value;
}

// The S3 table SMM copies: header, records up to the end marker, trailer
// position given by the header's size (never beyond what the driver's
// private data names).
std::vector<UINT8> CopyS3TableFrom(UINT64 PrivateAddress) {
  if (PrivateAddress == 0) {
    return {};
  }
  UINT64 TableAddress = ReadAt<UINT64>(reinterpret_cast<const void *>(PrivateAddress), 8);
  if (TableAddress == 0) {
    return {};
  }
  const auto *Table = reinterpret_cast<const UINT8 *>(TableAddress);
  for (const HostEnv::LiveBlock &Block : HostEnv::Environment::Active().Pool().LiveBlocks()) {
    if (Block.Address == Table && Block.Size >= 48) {
      UINT64 Size = ReadAt<UINT64>(Table, 32);
      return std::vector<UINT8>(Table, Table + std::min<UINT64>(Size + 4, Block.Size));
    }
  }
  return {};
}

EFI_STATUS EFIAPI SmmCommunicate(const EFI_SMM_COMMUNICATION_PROTOCOL *, VOID *CommBuffer, UINTN *CommSize) {
  if (CommBuffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const auto *Bytes = static_cast<const UINT8 *>(CommBuffer);
  SmmMessage Message{};
  std::memcpy(&Message.Header, Bytes, sizeof(EFI_GUID));
  Message.MessageLength = ReadAt<UINT64>(Bytes, 16);
  size_t Size = CommSize != nullptr ? *CommSize : kCommHeaderSize + Message.MessageLength;
  Message.Buffer.assign(Bytes, Bytes + Size);

  std::vector<EventField> Fields = {Text("guid", HostEnv::GuidToString(Message.Header)),
                                    Number("length", Message.MessageLength), Number("size", Size)};
  if (Message.Header == gQuorS3SaveTableSmmGuid && Size >= 40) {
    Message.S3Table = CopyS3TableFrom(ReadAt<UINT64>(Bytes, 32));
    Fields.push_back(Number("command", ReadAt<UINT32>(Bytes, 24)));
    Fields.push_back(Number("s3-records", ParseS3Table(Message.S3Table).size()));
  } else if (Message.Header == gQuorBootScriptForwardSmmGuid && Size >= 32) {
    const auto *Record = reinterpret_cast<const UINT8 *>(ReadAt<UINT64>(Bytes, 24));
    if (Record != nullptr) {
      Message.ForwardedRecord.assign(Record, Record + 100);
      Fields.push_back(Hex("opcode", ReadAt<UINT16>(Record, 0)));
      Fields.push_back(Number("width", ReadAt<UINT32>(Record, 8)));
      Fields.push_back(Hex("address", ReadAt<UINT64>(Record, 16)));
      const auto *Data = reinterpret_cast<const UINT8 *>(ReadAt<UINT64>(Record, 32));
      if (Data != nullptr) {
        Message.ForwardedData.assign(Data, Data + 8);
        Fields.push_back(Hex("data", ReadAt<UINT64>(Data, 0)));
      }
    }
  }
  auto &Db = In();
  std::vector<S3TableRecord> Records = ParseS3Table(Message.S3Table);
  Db.SmmMessages.push_back(std::move(Message));
  Db.Event("smm-communicate", std::move(Fields));
  // The platform first sees the table's records when SMM receives them.
  size_t Offset = 48;
  for (const S3TableRecord &Record : Records) {
    Db.Event("s3-record", S3RecordFields(Record, Offset, true));
    Offset += Record.Bytes.size();
  }
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------
// Debug print and the IDS hook extension
// ---------------------------------------------------------------------------
VOID EFIAPI DebugPrint(UINT64 Level, const CHAR8 *Format, EFI_VA_LIST Marker) {
  CHAR8 Text[1024];
  AsciiVSPrintEfi(Text, sizeof(Text), Format, Marker);
  auto &Db = In();
  Db.DebugLog.push_back({Level, Text});
  Db.Event("debug", {Hex("level", Level), EventField{"text", EventField::Type::Text, 0, Text}});
}

// Bytes from Address to the end of the live pool block holding it (0 when
// no block does): the extension never writes past the caller's buffer.
size_t RoomInPoolBlock(const VOID *Address) {
  const auto *Byte = static_cast<const UINT8 *>(Address);
  for (const HostEnv::LiveBlock &Block : HostEnv::Environment::Active().Pool().LiveBlocks()) {
    const auto *Start = static_cast<const UINT8 *>(Block.Address);
    if (Byte >= Start && Byte < Start + Block.Size) {
      return static_cast<size_t>(Start + Block.Size - Byte);
    }
  }
  return 0;
}

// Hook 0xFFFFFFFE, data {buffer, pointer to a u32 size}: without a buffer
// the table's size (or the profile's reported size); with one, the table
// (as much as the buffer's pool block holds) and its real size.
EFI_STATUS ServeIdsNvTable(const IdsNvTableRequest *Request) {
  const Profile &Settings = In().Settings;
  if (Request == nullptr || Request->Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Settings.IdsNvTable.empty()) {
    *Request->Size = 0;
    return EFI_NOT_FOUND;
  }
  if (Request->Buffer == nullptr) {
    *Request->Size = Settings.IdsNvReportedSize.value_or(static_cast<UINT32>(Settings.IdsNvTable.size()));
    return EFI_SUCCESS;
  }
  size_t Copied = std::min(Settings.IdsNvTable.size(), RoomInPoolBlock(Request->Buffer));
  std::memcpy(Request->Buffer, Settings.IdsNvTable.data(), Copied);
  *Request->Size = static_cast<UINT32>(Settings.IdsNvTable.size());
  return EFI_SUCCESS;
}

// Answers from the profile's ids-hooks first (an error status there makes
// the hook fail, the NV table request included), then the NV table, then
// EFI_UNSUPPORTED.
EFI_STATUS EFIAPI IdsHookExtCall(EFI_BOOT_SERVICES *, VOID *Data, UINT32 HookId) {
  auto &Db = In();
  Db.IdsHookCalls.push_back(HookId);
  for (const IdsHookAnswer &Answer : Db.Settings.IdsHooks) {
    if (Answer.HookId == HookId) {
      return Answer.Status;
    }
  }
  if (HookId == kIdsNvTableHook) {
    const auto *Record = static_cast<const IdsHookRecord *>(Data);
    return ServeIdsNvTable(Record != nullptr ? static_cast<const IdsNvTableRequest *>(Record->Data) : nullptr);
  }
  return EFI_UNSUPPORTED;
}

}  // namespace

std::vector<UINT8> BuildHobList(const Profile &Settings) {
  std::vector<UINT8> List(sizeof(EFI_HOB_HANDOFF_INFO_TABLE), 0);
  EFI_HOB_HANDOFF_INFO_TABLE Handoff{};
  Handoff.Header = {EFI_HOB_TYPE_HANDOFF, sizeof(EFI_HOB_HANDOFF_INFO_TABLE), 0};
  Handoff.Version = EFI_HOB_HANDOFF_TABLE_VERSION;
  std::memcpy(List.data(), &Handoff, sizeof(Handoff));

  std::vector<GuidHob> Hobs = Settings.Hobs;
  for (const HeapHobSpec &Heap : Settings.HeapHobs) {
    Hobs.push_back(HeapHob(Heap));
  }
  if (Settings.Fabric) {
    Hobs.push_back(FabricMmioHob(*Settings.Fabric));
  }
  for (const GuidHob &Hob : Hobs) {
    size_t Length = (sizeof(EFI_HOB_GUID_TYPE) + Hob.Data.size() + 7) & ~size_t(7);
    size_t Start = List.size();
    List.resize(Start + Length, 0);
    EFI_HOB_GUID_TYPE Header{};
    Header.Header = {EFI_HOB_TYPE_GUID_EXTENSION, static_cast<UINT16>(Hob.DeclaredLength.value_or(Length)), 0};
    Header.Name = Hob.Name;
    std::memcpy(List.data() + Start, &Header, sizeof(Header));
    std::copy(Hob.Data.begin(), Hob.Data.end(), List.begin() + Start + sizeof(Header));
  }
  EFI_HOB_GENERIC_HEADER End = {EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER), 0};
  size_t EndStart = List.size();
  List.resize(EndStart + sizeof(End));
  std::memcpy(List.data() + EndStart, &End, sizeof(End));
  return List;
}

std::vector<EventField> S3RecordFields(const S3TableRecord &Record, size_t Offset, bool HandedToSmm) {
  return {Hex("opcode", Record.OpCode), Hex("offset", Offset), Text("bytes", HexBytes(Record.Bytes.data(), Record.Bytes.size())),
          Flag("handed-to-smm", HandedToSmm)};
}

std::vector<S3TableRecord> ParseS3Table(const std::vector<UINT8> &Table) {
  std::vector<S3TableRecord> Records;
  if (Table.size() < 48) {
    return Records;
  }
  static constexpr size_t kLengths[] = {24, 32, 40, 24, 32, 40, 32, 40, 48, 24};
  UINT64 Size = ReadAt<UINT64>(Table.data(), 32);
  UINT64 Next = ReadAt<UINT64>(Table.data(), 40);
  size_t End = static_cast<size_t>(std::min<UINT64>({Next, Size, Table.size()}));
  for (size_t Offset = 48; Offset + 2 <= End;) {
    UINT16 OpCode = ReadAt<UINT16>(Table.data(), Offset);
    if (OpCode == 0xFFFF || OpCode >= std::size(kLengths) || Offset + kLengths[OpCode] > End) {
      break;
    }
    Records.push_back({OpCode, std::vector<UINT8>(Table.begin() + Offset, Table.begin() + Offset + kLengths[OpCode])});
    Offset += kLengths[OpCode];
  }
  return Records;
}

void HubPlatform::Internals::InstallServices() {
  Pcds = Settings.Pcds;
  PcdsEx = Settings.PcdsEx;
  if (Settings.SmmCommBuffer) {
    SmmCommBuffer.assign(4096, 0);
    PcdExKey Key{gQuorSmmCommBufferTokenSpaceGuid, 0x27001};
    if (PcdsEx.count(Key) == 0) {
      PcdsEx[Key] = PcdValue::Number(PcdType::U64, reinterpret_cast<UINTN>(SmmCommBuffer.data()));
    }
  }

  PcdProtocol = {PcdSetSku,   PcdGet8,     PcdGet16,     PcdGet32,     PcdGet64,     PcdGetPtr,    PcdGetBool,
                 PcdGetSize,  PcdGet8Ex,   PcdGet16Ex,   PcdGet32Ex,   PcdGet64Ex,   PcdGetPtrEx,  PcdGetBoolEx,
                 PcdGetSizeEx, PcdSet8,    PcdSet16,     PcdSet32,     PcdSet64,     PcdSetPtr,    PcdSetBool,
                 PcdSet8Ex,   PcdSet16Ex,  PcdSet32Ex,   PcdSet64Ex,   PcdSetPtrEx,  PcdSetBoolEx, PcdCallback,
                 PcdCallback, PcdNextToken, PcdNextSpace};
  EfiPcdProtocol = {PcdSetSku,   EfiGet8,     EfiGet16,     EfiGet32,     EfiGet64,     EfiGetPtr,
                    EfiGetBool,  EfiGetSize,  PcdSet8Ex,    PcdSet16Ex,   PcdSet32Ex,   PcdSet64Ex,
                    PcdSetPtrEx, PcdSetBoolEx, EfiCallback, EfiCallback,  PcdNextToken, PcdNextSpace};
  DxeServices.Hdr.Signature = DXE_SERVICES_SIGNATURE;
  DxeServices.Hdr.HeaderSize = sizeof(EFI_DXE_SERVICES);
  DxeServices.AllocateMemorySpace = GcdAllocateMemorySpace;
  DxeServices.SetMemorySpaceAttributes = GcdSetMemorySpaceAttributes;
  S3SaveState = {S3Write, S3Insert, S3Label, S3Compare};
  SmmCommunication.Communicate = SmmCommunicate;
  DebugPrint.DebugPrint = HubSim::DebugPrint;
  IdsHookExt.Call = IdsHookExtCall;

  const Protocols &Present = Settings.Present;
  if (Present.Pcd) InstallProtocol(gPcdProtocolGuid, &PcdProtocol);
  if (Present.EfiPcd) InstallProtocol(gEfiPcdProtocolGuid, &EfiPcdProtocol);
  if (Present.S3SaveState) InstallProtocol(gEfiS3SaveStateProtocolGuid, &S3SaveState);
  if (Present.SmmCommunication) InstallProtocol(gEfiSmmCommunicationProtocolGuid, &SmmCommunication);
  if (Present.DebugPrint) InstallProtocol(gQuorDebugPrintProtocolGuid, &DebugPrint);
  if (Present.IdsHookExtension) InstallProtocol(gQuorIdsHookExtProtocolGuid, &IdsHookExt);

  EFI_BOOT_SERVICES *BS = Env.BootServices();
  if (Present.HobList) {
    HobBytes = BuildHobList(Settings);
    HobStorage.assign((HobBytes.size() + 7) / 8, 0);
    std::memcpy(HobStorage.data(), HobBytes.data(), HobBytes.size());
    BS->InstallConfigurationTable(&gEfiHobListGuid, HobStorage.data());
    InstalledTables.push_back(gEfiHobListGuid);
  }
  if (Present.DxeServices) {
    BS->InstallConfigurationTable(&gEfiDxeServicesTableGuid, &DxeServices);
    InstalledTables.push_back(gEfiDxeServicesTableGuid);
  }
}

}  // namespace HubSim
