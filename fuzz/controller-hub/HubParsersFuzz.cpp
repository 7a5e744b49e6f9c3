// HEAP hand-off blocks and IDS NV tables from arbitrary bytes. The blocks go
// through the heap buffer library's migration; the table is served by the
// IDS hook extension (with an arbitrary announced size) or left by a HEAP
// block as heap buffer NVDT, and option lookups walk it. Afterwards:
//   - exactly the complete blocks were taken over (the first of each
//     handle), each with the bytes its block carried;
//   - lookups answer only with the documented results;
//   - nothing but the heap buffers is left in the pool.
// Reads past a pool block (the NVDT buffers, the HOB list's end) are ASan's.
#include <HubSim/HubPlatform.h>
#include <Library/UefiLib.h>

#include <XchKryDxe.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "Protocol/QuorHeapBuffer.h"
#include "QuorHeapBufferLib.h"
#include "XchHob.h"
#include "XchIdsNvTable.h"

namespace {

struct Input {
  const UINT8 *Data;
  size_t       Size;
  size_t       Offset = 0;
  UINT8  Byte() { return Offset < Size ? Data[Offset++] : 0; }
  UINT16 Word() { return static_cast<UINT16>(Byte() | (Byte() << 8)); }
  std::vector<UINT8> Take(size_t Count) {
    size_t Available = Offset < Size ? Size - Offset : 0;
    Count = Count < Available ? Count : Available;
    std::vector<UINT8> Bytes(Data + Offset, Data + Offset + Count);
    Offset += Count;
    return Bytes;
  }
  std::vector<UINT8> Rest() { return Take(Size); }
};

[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "hub parsers fuzz: %s\n", What);
  std::abort();
}

template <typename T>
T At(const std::vector<UINT8> &Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}

// Flags of the first byte.
constexpr UINT8 kExtension = 0x01;      // the IDS hook extension serves the rest as the table
constexpr UINT8 kShapeHeaders = 0x02;   // blocks get a HEAP signature and valid byte (deeper paths)
constexpr UINT8 kAnnounceSize = 0x10;   // the extension announces a size of its own
constexpr UINT8 kHugeSize = 0x20;       // ... close to 4 GB
constexpr UINT8 kNvdtBlock = 0x40;      // the first block is heap buffer NVDT

HubSim::Profile ProfileFrom(Input &In, std::vector<std::vector<UINT8>> &Blocks) {
  HubSim::Profile Profile;
  Profile.Name = "fuzz";
  Profile.Present.DebugPrint = false;
  UINT8 Flags = In.Byte();
  size_t Count = (Flags >> 2) & 3;
  for (size_t Index = 0; Index < Count; ++Index) {
    std::vector<UINT8> Block = In.Take(In.Word() % 512);
    if ((Flags & kShapeHeaders) != 0 && Block.size() >= 14) {
      std::memcpy(Block.data(), "HEAP", 4);
      Block[13] = 1;
      if ((Flags & kNvdtBlock) != 0 && Index == 0 && Block.size() >= 8) {
        UINT32 Nvdt = XCH_IDS_NV_HEAP_HANDLE;
        std::memcpy(Block.data() + 4, &Nvdt, 4);
      }
    }
    Profile.Hobs.push_back({HubSim::kHeapHobGuid, Block, std::nullopt});
    // HOB lengths are multiples of 8: the driver sees the zero padding too.
    Block.resize((Block.size() + 7) & ~size_t(7), 0);
    Blocks.push_back(Block);
  }
  Profile.Present.IdsHookExtension = (Flags & kExtension) != 0;
  if ((Flags & kAnnounceSize) != 0) {
    UINT16 Announced = In.Word();
    Profile.IdsNvReportedSize = (Flags & kHugeSize) != 0 ? 0xFFFFFF00u | (Announced & 0xFF) : Announced % 2048;
  }
  Profile.IdsNvTable = In.Rest();
  return Profile;
}

// The node each complete block must have become: the first complete block
// of each handle with a persistence of 1-8.
std::map<UINT32, std::vector<UINT8>> ExpectedBuffers(const std::vector<std::vector<UINT8>> &Blocks) {
  std::map<UINT32, std::vector<UINT8>> Expected;
  for (const std::vector<UINT8> &Block : Blocks) {
    if (Block.size() < 16 || At<UINT32>(Block, 0) != QUOR_HEAP_SIGNATURE || Block[13] != 1 || Block[12] < 1 ||
        Block[12] > 8) {
      continue;
    }
    UINT32 Size = At<UINT32>(Block, 8);
    if (Size > Block.size() - 16 || Expected.count(At<UINT32>(Block, 4)) != 0) {
      continue;
    }
    Expected[At<UINT32>(Block, 4)] = std::vector<UINT8>(Block.begin(), Block.begin() + 16 + Size);
  }
  return Expected;
}

// Checks and frees the list: header and buffer as their block had them.
void CheckAndReleaseHeapBuffers(HostEnv::Environment &Env, std::map<UINT32, std::vector<UINT8>> Expected) {
  VOID *Interface = nullptr;
  if (EFI_ERROR(Env.BootServices()->LocateProtocol(&gQuorHeapBufferProtocolGuid, nullptr, &Interface))) {
    Fail("no heap buffer protocol");
  }
  LIST_ENTRY *Head = &static_cast<QUOR_HEAP_BUFFER_PROTOCOL *>(Interface)->ListHead;
  std::vector<VOID *> Nodes;
  for (LIST_ENTRY *Link = Head->ForwardLink; Link != Head; Link = Link->ForwardLink) {
    auto *Node = reinterpret_cast<QUOR_HEAP_NODE *>(Link);
    Nodes.push_back(Node);
    if (Node->Handle == XCH_IDS_NV_HEAP_HANDLE && Expected.count(Node->Handle) == 0) {
      continue;  // fetched from the extension
    }
    auto Block = Expected.find(Node->Handle);
    if (Block == Expected.end()) Fail("a block was taken over that is no complete HEAP buffer");
    if (std::memcmp(&Node->Signature, Block->second.data(), 16) != 0) Fail("node header differs from its block");
    if (std::memcmp(Node + 1, Block->second.data() + 16, Block->second.size() - 16) != 0) {
      Fail("buffer differs from its block");
    }
    Expected.erase(Block);
  }
  if (!Expected.empty()) Fail("a complete HEAP block was not taken over");
  Head->ForwardLink = Head->BackLink = Head;
  for (VOID *Node : Nodes) Env.Pool().FreePool(Node);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const UINT8 *Data, size_t Size) {
  Input In{Data, Size};
  std::vector<std::vector<UINT8>> Blocks;
  HubSim::Profile Profile = ProfileFrom(In, Blocks);
  HostEnv::Options Settings = HubSim::HubPlatform::EnvironmentOptions(Profile);
  Settings.EchoStdErr = false;
  HostEnv::Environment Env(Settings);
  {
    HubSim::HubPlatform Platform(Env, Profile);
    XchKryDxeResetModuleState();
    UefiLibConstructor(Env.CoreImageHandle(), Env.SystemTable());
    XchHobListConstructor();
    QuorHeapBufferLibConstructor();

    const std::vector<UINT8> &Table = Profile.IdsNvTable;
    UINT16 Picked = Table.size() >= 34 ? At<UINT16>(Table, 32) : 0;
    for (UINT16 Id : {Picked, UINT16(0xD10A), UINT16(0xD131), UINT16(0x0000), UINT16(0xFFFF)}) {
      UINT64 Value = 0;
      UINTN Result = XchIdsNvValue(Id, &Value);
      if (Result != 0 && Result != 1 && Result != 2 && Result != 7) Fail("lookup result outside 0, 1, 2, 7");
    }
    CheckAndReleaseHeapBuffers(Env, ExpectedBuffers(Blocks));
  }
  if (Env.Pool().TotalUsage().LiveBlocks != 0) Fail(Env.Pool().LeakReport().c_str());
  if (!Env.Faults().empty()) Fail(Env.Faults().front().c_str());
  return 0;
}
