// What a simulated controller-hub platform offers the driver: PCD tokens,
// hand-off blocks, initial register values, the SMU's answer, the system
// table revision, which platform protocols exist, and the answers of the
// IDS hook extension. Plain data; HubPlatform brings it to life and the
// hub-sim tool reads it from JSON.
#pragma once

#include <uefi/Base.h>
#include <uefi/Pi/PiDxeServices.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace HubSim {

enum class PcdType : UINT8 { U8, U16, U32, U64, Bool, Ptr };

struct PcdValue {
  PcdType            Type  = PcdType::U32;
  UINT64             Value = 0;  // numeric types
  std::vector<UINT8> Bytes;      // pointer type: the current contents
  size_t             MaxSize = 0;  // pointer type: room for SetPtr (at least Bytes.size())

  static PcdValue Number(PcdType Type, UINT64 Value) { return PcdValue{Type, Value, {}, 0}; }
  static PcdValue Pointer(std::vector<UINT8> Bytes, size_t MaxSize = 0);
  static PcdValue Utf16(std::u16string_view Text);  // NUL-terminated UTF-16 string
};

struct PcdExKey {
  EFI_GUID Space;
  UINTN    Token;
  bool     operator<(const PcdExKey &Other) const;
};

struct GuidHob {
  EFI_GUID           Name;
  std::vector<UINT8> Data;
  // HobLength to declare instead of the real one (damaged-list tests). The
  // bytes that follow still come from Data.
  std::optional<UINT16> DeclaredLength;
};

enum class RegisterSpace : UINT8 { Mmio, Io, Msr, Smn };

struct RegisterValue {
  RegisterSpace Space;
  UINT64        Address;
  UINT8         Width;  // bytes
  UINT64        Value;
};

struct CpuidValue {
  UINT32 Leaf;
  UINT32 SubLeaf;
  bool   AnySubLeaf;
  UINT32 Eax, Ebx, Ecx, Edx;
};

struct GcdSpace {
  UINT64              Base;
  UINT64              Length;
  EFI_GCD_MEMORY_TYPE Type;
};

struct IdsHookAnswer {
  UINT32     HookId;
  EFI_STATUS Status;
};

// One MMIO triple of a fabric region record: base, size, used.
struct FabricTriple {
  UINT64 Base = 0, Size = 0, Used = 0;
};
struct FabricRegion {
  UINT8        Socket = 0;
  UINT8        RootBridge = 0;
  bool         Above4G = false;
  FabricTriple NonPci, NonPrefetchable, Prefetchable;
  bool         Present = true;  // the region's present flag (14080/14160 + index)
};
// The fabric MMIO manager buffer the earlier boot phase leaves in a HEAP
// hand-off block with handle 0xA029.
struct FabricMmio {
  std::vector<FabricRegion> Regions;
  bool   SecondBelow4G = false;      // byte 14240
  bool   ReportToGcd = false;        // byte 14241
  UINT8  SecondLocation = 0;         // byte 14242: socket << 4 | root bridge
  UINT64 GcdImageHandle = 0;         // 14243
  UINT8  Persistence = 1;
  // Bytes of the buffer as handed over: the layout's 14251 unless a profile
  // shortens (or pads) it.
  size_t BufferSize = 14251;
};

// A HEAP hand-off block the earlier boot phase leaves: 16-byte header
// (signature, handle, buffer size, persistence, valid byte), then the buffer.
struct HeapHobSpec {
  UINT32                Handle = 0;
  UINT8                 Persistence = 1;
  UINT8                 Valid = 1;  // blocks without 1 here are not taken over
  std::vector<UINT8>    Buffer;
  // Buffer size to declare in the header instead of Buffer.size() (a block
  // shorter than it says).
  std::optional<UINT32> DeclaredSize;
};

// A data fabric register (bus 0, device 0x18, function 0-7): an initial
// value in the PCI Express window.
struct DataFabricRegister {
  UINT8  Function = 0;
  UINT16 Offset = 0;
  UINT32 Value = 0;
};
// Its address in the MMIO space.
UINT64 DataFabricAddress(UINT8 Function, UINT16 Offset);

// One option of the IDS NV table.
struct IdsNvOption {
  UINT16 Id = 0;
  UINT8  Size = 1;  // value bytes: 1, 2, 4 or 8
  UINT64 Value = 0;
};
// An IDS NV table: "$INV", header to 32 bytes, the records, the 0xFFFF end.
std::vector<UINT8> IdsNvTableBytes(const std::vector<IdsNvOption> &Options);

struct Protocols {
  bool Pcd = true;
  bool EfiPcd = true;
  bool S3SaveState = true;
  bool SmmCommunication = true;
  bool DebugPrint = true;
  bool IdsHookExtension = false;
  bool HobList = true;
  bool DxeServices = true;
};

struct Profile {
  std::string                    Name = "default";
  UINT32                         SystemTableRevision = (2 << 16) | 70;
  Protocols                      Present;
  std::map<UINTN, PcdValue>      Pcds;
  std::map<PcdExKey, PcdValue>   PcdsEx;
  // Gives token 0x27001 of the SMM buffer token space the address of a
  // platform buffer for the S3 close message (unless PcdsEx names it).
  bool                           SmmCommBuffer = true;
  // Whether the platform installs protocol B2E3155F-... (SMM may take
  // forwarded boot-script records) together with the DXE SMM ready-to-lock
  // protocol; without it the forwarder never becomes ready.
  bool                           SmmBootScriptReady = true;
  std::vector<GuidHob>           Hobs;
  std::vector<HeapHobSpec>       HeapHobs;  // after Hobs, before the fabric buffer's
  std::optional<FabricMmio>      Fabric;
  std::vector<RegisterValue>     Registers;
  std::vector<DataFabricRegister> DataFabric;
  std::vector<CpuidValue>        Cpuid;
  UINT32                         SmuResponse = 1;
  UINT64                         TscStep = 1000;
  std::vector<GcdSpace>          Gcd;
  std::vector<IdsHookAnswer>     IdsHooks;
  // The IDS NV table the extension serves (hook 0xFFFFFFFE), and the size it
  // gives when asked for the size (default: the table's).
  std::vector<UINT8>             IdsNvTable;
  std::optional<UINT32>          IdsNvReportedSize;
};

// The platform hub-sim runs without a profile: both PCD protocols with the
// tokens the driver reads, the controller-hub hand-off block, the fabric MMIO
// buffer (trace memory finds its 1 MB window there), one socket with one root
// bridge behind configuration address map 0, S3 save state and SMM
// communication, one enabled P-state.
Profile DefaultProfile();

// GUIDs of the hand-off blocks.
extern const EFI_GUID kControllerHubHobGuid;  // 26AB8E31-6C47-480A-A039-1E043FA793CD
extern const EFI_GUID kHeapHobGuid;           // D97D161A-16CD-4ADA-B9F6-AEC3F9FCCC2C

constexpr UINT32 kFabricHeapHandle = 0xA029;
constexpr size_t kFabricBufferSize = 14251;
// The HEAP hand-off block carrying the fabric MMIO manager buffer.
GuidHob FabricMmioHob(const FabricMmio &Fabric);
// A HEAP hand-off block: 16-byte header (signature, handle, size,
// persistence, 1) followed by Buffer.
GuidHob HeapHob(UINT32 Handle, UINT8 Persistence, const std::vector<UINT8> &Buffer);
GuidHob HeapHob(const HeapHobSpec &Spec);

constexpr UINT32 kIdsNvTableHook = 0xFFFFFFFE;

}  // namespace HubSim
