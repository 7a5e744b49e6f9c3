#include <HubSim/HubProfile.h>

#include <algorithm>
#include <cstring>

namespace HubSim {

const EFI_GUID kControllerHubHobGuid = {0x26AB8E31, 0x6C47, 0x480A, {0xA0, 0x39, 0x1E, 0x04, 0x3F, 0xA7, 0x93, 0xCD}};
const EFI_GUID kHeapHobGuid = {0xD97D161A, 0x16CD, 0x4ADA, {0xB9, 0xF6, 0xAE, 0xC3, 0xF9, 0xFC, 0xCC, 0x2C}};

PcdValue PcdValue::Pointer(std::vector<UINT8> Bytes, size_t MaxSize) {
  PcdValue Value;
  Value.Type = PcdType::Ptr;
  Value.MaxSize = std::max(MaxSize, Bytes.size());
  Value.Bytes = std::move(Bytes);
  return Value;
}

PcdValue PcdValue::Utf16(std::u16string_view Text) {
  std::vector<UINT8> Bytes((Text.size() + 1) * 2, 0);
  std::memcpy(Bytes.data(), Text.data(), Text.size() * 2);
  return Pointer(std::move(Bytes));
}

bool PcdExKey::operator<(const PcdExKey &Other) const {
  int Order = std::memcmp(&Space, &Other.Space, sizeof(EFI_GUID));
  return Order != 0 ? Order < 0 : Token < Other.Token;
}

namespace {

template <typename T>
void Put(std::vector<UINT8> &Bytes, size_t Offset, T Value) {
  std::memcpy(Bytes.data() + Offset, &Value, sizeof(T));
}

// Offsets in the fabric MMIO manager buffer.
constexpr size_t kAbove4GRecords = 0;
constexpr size_t kBelow4GRecords = 7040;
constexpr size_t kAbove4GPresent = 14080;
constexpr size_t kBelow4GPresent = 14160;
constexpr size_t kSecondBelow4G = 14240;
constexpr size_t kReportToGcd = 14241;
constexpr size_t kSecondLocation = 14242;
constexpr size_t kGcdImageHandle = 14243;
constexpr size_t kRecordSize = 88;
constexpr size_t kRootBridgesPerSocket = 20;

}  // namespace

GuidHob HeapHob(const HeapHobSpec &Spec) {
  std::vector<UINT8> Data(16 + Spec.Buffer.size(), 0);
  Put<UINT32>(Data, 0, 0x50414548);  // "HEAP"
  Put<UINT32>(Data, 4, Spec.Handle);
  Put<UINT32>(Data, 8, Spec.DeclaredSize.value_or(static_cast<UINT32>(Spec.Buffer.size())));
  Data[12] = Spec.Persistence;
  Data[13] = Spec.Valid;
  std::copy(Spec.Buffer.begin(), Spec.Buffer.end(), Data.begin() + 16);
  return GuidHob{kHeapHobGuid, std::move(Data), std::nullopt};
}

GuidHob HeapHob(UINT32 Handle, UINT8 Persistence, const std::vector<UINT8> &Buffer) {
  HeapHobSpec Spec;
  Spec.Handle = Handle;
  Spec.Persistence = Persistence;
  Spec.Buffer = Buffer;
  return HeapHob(Spec);
}

UINT64 DataFabricAddress(UINT8 Function, UINT16 Offset) {
  return 0xE0000000ULL + ((0xC0ULL | Function) << 12) + (Offset & 0xFFF);
}

std::vector<UINT8> IdsNvTableBytes(const std::vector<IdsNvOption> &Options) {
  std::vector<UINT8> Table(32, 0);
  Put<UINT32>(Table, 0, 0x564E4924);  // "$INV"
  for (const IdsNvOption &Option : Options) {
    UINT8 SizeCode = Option.Size >= 8 ? 3 : Option.Size >= 4 ? 2 : Option.Size >= 2 ? 1 : 0;
    Table.push_back(static_cast<UINT8>(Option.Id));
    Table.push_back(static_cast<UINT8>(Option.Id >> 8));
    Table.push_back(SizeCode);
    for (UINT8 Index = 0; Index < (1u << SizeCode); ++Index) {
      Table.push_back(static_cast<UINT8>(Option.Value >> (8 * Index)));
    }
  }
  Table.push_back(0xFF);
  Table.push_back(0xFF);
  return Table;
}

GuidHob FabricMmioHob(const FabricMmio &Fabric) {
  std::vector<UINT8> Buffer(kFabricBufferSize, 0);
  for (const FabricRegion &Region : Fabric.Regions) {
    size_t Index = Region.Socket * kRootBridgesPerSocket + Region.RootBridge;
    size_t Record = (Region.Above4G ? kAbove4GRecords : kBelow4GRecords) + Index * kRecordSize;
    const FabricTriple *Triples[3] = {&Region.NonPci, &Region.NonPrefetchable, &Region.Prefetchable};
    for (size_t Triple = 0; Triple < 3; ++Triple) {
      Put<UINT64>(Buffer, Record + Triple * 24 + 0, Triples[Triple]->Base);
      Put<UINT64>(Buffer, Record + Triple * 24 + 8, Triples[Triple]->Size);
      Put<UINT64>(Buffer, Record + Triple * 24 + 16, Triples[Triple]->Used);
    }
    Buffer[(Region.Above4G ? kAbove4GPresent : kBelow4GPresent) + Index] = Region.Present ? 1 : 0;
  }
  Buffer[kSecondBelow4G] = Fabric.SecondBelow4G ? 1 : 0;
  Buffer[kReportToGcd] = Fabric.ReportToGcd ? 1 : 0;
  Buffer[kSecondLocation] = Fabric.SecondLocation;
  Put<UINT64>(Buffer, kGcdImageHandle, Fabric.GcdImageHandle);
  Buffer.resize(Fabric.BufferSize, 0);
  return HeapHob(kFabricHeapHandle, Fabric.Persistence, Buffer);
}

Profile DefaultProfile() {
  Profile P;
  P.Name = "default";

  auto U8 = [](UINT64 V) { return PcdValue::Number(PcdType::U8, V); };
  auto U16 = [](UINT64 V) { return PcdValue::Number(PcdType::U16, V); };
  auto U32 = [](UINT64 V) { return PcdValue::Number(PcdType::U32, V); };
  auto U64 = [](UINT64 V) { return PcdValue::Number(PcdType::U64, V); };
  auto Bool = [](bool V) { return PcdValue::Number(PcdType::Bool, V ? 1 : 0); };

  // Platform and debug configuration.
  P.Pcds[71] = PcdValue::Utf16(u"Melvor");
  P.Pcds[389] = U16(0x80);
  P.Pcds[634] = Bool(false);
  P.Pcds[575] = U8(0);
  P.Pcds[637] = U32(0);
  P.Pcds[635] = Bool(false);
  P.Pcds[584] = U32(0);
  P.Pcds[583] = U32(0);
  P.Pcds[636] = U8(0);
  // S3 save table.
  P.Pcds[778] = U64(0);
  P.Pcds[779] = U64(0);
  P.Pcds[780] = U64(0x4000);
  // Data block.
  P.Pcds[83] = U32(0x00000800);  // UART 0 enabled
  P.Pcds[82] = U32(0);
  P.Pcds[335] = U8(4);           // UART 0 legacy range 4: the routing word asks for the banner
  P.Pcds[336] = U8(0);
  P.Pcds[337] = U8(0);
  P.Pcds[338] = U8(0);
  P.Pcds[577] = Bool(false);
  P.Pcds[578] = U8(0);
  P.Pcds[769] = U8(0);
  P.Pcds[929] = PcdValue::Pointer({0, 0, 0, 0, 0, 0, 0, 0});
  P.Pcds[585] = U8(0);
  P.Pcds[609] = U8(1);
  P.Pcds[842] = U8(0);           // no reset request
  P.Pcds[113] = U32(0);
  P.Pcds[289] = U8(1);
  P.Pcds[292] = U32(0);
  P.Pcds[242] = U32(0);
  P.Pcds[290] = U32(0);
  P.Pcds[331] = U32(0);
  // Trace memory.
  P.Pcds[807] = Bool(true);
  P.Pcds[806] = U32(0);

  // The controller-hub hand-off block: 4 + 662 data bytes; the Late port
  // write goes to port 0x80 (block u16 at 0x672, data offset 0x21A).
  GuidHob Hub{kControllerHubHobGuid, std::vector<UINT8>(666, 0), std::nullopt};
  Hub.Data[0x21A] = 0x80;
  P.Hobs.push_back(Hub);

  FabricMmio Fabric;
  FabricRegion Region;
  Region.NonPci = {0xF8000000, 0x02000000, 0};
  Region.NonPrefetchable = {0xF0000000, 0x08000000, 0};
  Fabric.Regions.push_back(Region);
  Fabric.ReportToGcd = true;
  Fabric.GcdImageHandle = 0x1000;
  P.Fabric = Fabric;

  P.Registers = {
      {RegisterSpace::Msr, 0xC0010058, 8, 0x00000000E0000021ULL},  // PCI Express window 0xE0000000, 256 MB
      {RegisterSpace::Msr, 0xC0010064, 8, 0x8000000000000880ULL},  // P0: 128 x 200 / 8 MHz
  };
  P.DataFabric = {
      {4, 0x180, 0x00000000},  // one socket
      {4, 0x184, 0x00000100},  // one root bridge
      {0, 0xC80, 0x00000003},  // configuration address map 0: buses 0-255 ...
      {0, 0xC84, 0x00FF0013},  // ... to fabric ID 0x13 (the host bridge)
  };
  P.Gcd = {{0xE0000000, 0x20000000, EfiGcdMemoryTypeMemoryMappedIo}};
  return P;
}

}  // namespace HubSim
