#include "ProfileJson.h"

#include <HostEnv/Text.h>

#include <cstdio>
#include <fstream>
#include <set>

using nlohmann::json;

namespace HubSimTool {
namespace {

using namespace HubSim;

[[noreturn]] void Fail(const std::string &Where, const std::string &What) { throw ProfileError(Where + ": " + What); }

std::string HexText(UINT64 Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

// A number as a JSON number or a "0x..." / decimal string.
UINT64 ToNumber(const json &Value, const std::string &Where) {
  if (Value.is_number_unsigned()) {
    return Value.get<UINT64>();
  }
  if (Value.is_number_integer() && Value.get<INT64>() >= 0) {
    return static_cast<UINT64>(Value.get<INT64>());
  }
  if (Value.is_boolean()) {
    return Value.get<bool>() ? 1 : 0;
  }
  if (Value.is_string()) {
    const std::string Text = Value.get<std::string>();
    size_t Used = 0;
    try {
      UINT64 Number = std::stoull(Text, &Used, 0);
      if (Used == Text.size() && !Text.empty()) {
        return Number;
      }
    } catch (const std::exception &) {
    }
  }
  Fail(Where, "expected a number or a \"0x...\" string, got " + Value.dump());
}

std::vector<UINT8> HexBytes(const json &Value, const std::string &Where) {
  if (!Value.is_string()) {
    Fail(Where, "expected a hex string");
  }
  std::string Text;
  for (char C : Value.get<std::string>()) {
    if (C != ' ' && C != ':' && C != '-') {
      Text += C;
    }
  }
  if (Text.size() % 2 != 0) {
    Fail(Where, "odd number of hex digits");
  }
  std::vector<UINT8> Bytes;
  for (size_t Index = 0; Index < Text.size(); Index += 2) {
    std::string Pair = Text.substr(Index, 2);
    if (Pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      Fail(Where, "not a hex digit in \"" + Pair + "\"");
    }
    Bytes.push_back(static_cast<UINT8>(std::stoul(Pair, nullptr, 16)));
  }
  return Bytes;
}

std::string HexString(const std::vector<UINT8> &Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Text;
  for (UINT8 Byte : Bytes) {
    Text += Digits[Byte >> 4];
    Text += Digits[Byte & 0xF];
  }
  return Text;
}

EFI_GUID ToGuid(const json &Value, const std::string &Where) {
  unsigned D1, D2, D3, B[8];
  if (!Value.is_string() ||
      std::sscanf(Value.get<std::string>().c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &D1, &D2, &D3, &B[0],
                  &B[1], &B[2], &B[3], &B[4], &B[5], &B[6], &B[7]) != 11 ||
      Value.get<std::string>().size() != 36) {
    Fail(Where, "expected a GUID \"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX\"");
  }
  EFI_GUID Guid{D1, static_cast<UINT16>(D2), static_cast<UINT16>(D3), {}};
  for (int Index = 0; Index < 8; ++Index) {
    Guid.Data4[Index] = static_cast<UINT8>(B[Index]);
  }
  return Guid;
}

void CheckKeys(const json &Object, const std::string &Where, std::initializer_list<const char *> Allowed) {
  if (!Object.is_object()) {
    Fail(Where, "expected an object");
  }
  std::set<std::string> Known(Allowed.begin(), Allowed.end());
  for (const auto &Item : Object.items()) {
    if (Known.count(Item.key()) == 0) {
      Fail(Where, "unknown key \"" + Item.key() + "\"");
    }
  }
}

const json &Required(const json &Item, const char *Key, const std::string &Where) {
  if (!Item.contains(Key)) {
    Fail(Where, std::string("\"") + Key + "\" is missing");
  }
  return Item[Key];
}

bool ToBool(const json &Value, const std::string &Where) {
  if (!Value.is_boolean()) {
    Fail(Where, "expected true or false");
  }
  return Value.get<bool>();
}

// --- PCDs ---
const std::pair<const char *, PcdType> kPcdTypes[] = {
    {"8", PcdType::U8}, {"16", PcdType::U16}, {"32", PcdType::U32}, {"64", PcdType::U64},
    {"bool", PcdType::Bool}, {"ptr", PcdType::Ptr},
};

PcdValue ToPcd(const json &Item, const std::string &Where) {
  const std::string Type = Item.at("type").get<std::string>();
  if (Type == "utf16") {
    if (!Item.at("value").is_string()) {
      Fail(Where, "a utf16 value is a string");
    }
    return PcdValue::Utf16(HostEnv::Utf8ToUtf16(Item.at("value").get<std::string>()));
  }
  for (const auto &[Name, Kind] : kPcdTypes) {
    if (Type != Name) {
      continue;
    }
    if (Kind == PcdType::Ptr) {
      size_t MaxSize = Item.contains("max-size") ? ToNumber(Item["max-size"], Where + ".max-size") : 0;
      return PcdValue::Pointer(HexBytes(Item.at("value"), Where + ".value"), MaxSize);
    }
    return PcdValue::Number(Kind, ToNumber(Item.at("value"), Where + ".value"));
  }
  Fail(Where, "unknown PCD type \"" + Type + "\" (8, 16, 32, 64, bool, ptr, utf16)");
}

json FromPcd(const PcdValue &Value) {
  json Item;
  for (const auto &[Name, Kind] : kPcdTypes) {
    if (Kind == Value.Type) {
      Item["type"] = Name;
    }
  }
  if (Value.Type == PcdType::Ptr) {
    // UTF-16 text round-trips as text.
    bool Utf16 = Value.Bytes.size() >= 2 && Value.Bytes.size() % 2 == 0 && Value.MaxSize == Value.Bytes.size() &&
                 Value.Bytes[Value.Bytes.size() - 1] == 0 && Value.Bytes[Value.Bytes.size() - 2] == 0;
    std::u16string Text;
    for (size_t Index = 0; Utf16 && Index + 2 < Value.Bytes.size(); Index += 2) {
      char16_t Unit = static_cast<char16_t>(Value.Bytes[Index] | (Value.Bytes[Index + 1] << 8));
      Utf16 = Unit >= 0x20 && Unit < 0x7F;
      Text += Unit;
    }
    if (Utf16 && !Text.empty()) {
      Item["type"] = "utf16";
      Item["value"] = HostEnv::Utf16ToUtf8(Text);
    } else {
      Item["value"] = HexString(Value.Bytes);
      if (Value.MaxSize != Value.Bytes.size()) {
        Item["max-size"] = Value.MaxSize;
      }
    }
  } else {
    Item["value"] = HexText(Value.Value);
  }
  return Item;
}

// --- HOBs ---
GuidHob ToHob(const json &Item, const std::string &Where) {
  CheckKeys(Item, Where, {"guid", "data", "size", "bytes", "declared-length"});
  GuidHob Hob{ToGuid(Item.at("guid"), Where + ".guid"), {}, std::nullopt};
  if (Item.contains("data")) {
    Hob.Data = HexBytes(Item["data"], Where + ".data");
  }
  if (Item.contains("size")) {
    Hob.Data.resize(ToNumber(Item["size"], Where + ".size"), 0);
  }
  if (Item.contains("declared-length")) {
    Hob.DeclaredLength = static_cast<UINT16>(ToNumber(Item["declared-length"], Where + ".declared-length"));
  }
  return Hob;
}

// "bytes": {"0x21A": "80"} places runs at data offsets (after "size").
void ApplyByteRuns(std::vector<UINT8> &Data, const json &Item, const std::string &Where) {
  if (!Item.contains("bytes")) {
    return;
  }
  if (!Item["bytes"].is_object()) {
    Fail(Where + ".bytes", "expected an object of offset: hex runs");
  }
  for (const auto &Run : Item["bytes"].items()) {
    UINT64 Offset = ToNumber(json(Run.key()), Where + ".bytes");
    std::vector<UINT8> Bytes = HexBytes(Run.value(), Where + ".bytes." + Run.key());
    if (Offset + Bytes.size() > Data.size()) {
      Data.resize(Offset + Bytes.size(), 0);
    }
    std::copy(Bytes.begin(), Bytes.end(), Data.begin() + static_cast<std::ptrdiff_t>(Offset));
  }
}

void ApplyByteRuns(GuidHob &Hob, const json &Item, const std::string &Where) { ApplyByteRuns(Hob.Data, Item, Where); }

// The non-zero runs of Data as a "bytes" object.
json ByteRuns(const std::vector<UINT8> &Data) {
  json Runs = json::object();
  for (size_t Index = 0; Index < Data.size();) {
    if (Data[Index] == 0) {
      ++Index;
      continue;
    }
    size_t End = Index;
    while (End < Data.size() && Data[End] != 0) {
      ++End;
    }
    Runs[HexText(Index)] = HexString(std::vector<UINT8>(Data.begin() + Index, Data.begin() + End));
    Index = End;
  }
  return Runs;
}

json FromHob(const GuidHob &Hob) {
  json Item;
  Item["guid"] = HostEnv::GuidToString(Hob.Name);
  Item["size"] = Hob.Data.size();
  Item["bytes"] = ByteRuns(Hob.Data);
  if (Hob.DeclaredLength) {
    Item["declared-length"] = *Hob.DeclaredLength;
  }
  return Item;
}

// --- HEAP hand-off blocks ---
HeapHobSpec ToHeapHob(const json &Item, const std::string &Where) {
  CheckKeys(Item, Where, {"handle", "persistence", "valid", "data", "size", "bytes", "buffer-size"});
  HeapHobSpec Heap;
  Heap.Handle = static_cast<UINT32>(ToNumber(Required(Item, "handle", Where), Where + ".handle"));
  if (Item.contains("persistence"))
    Heap.Persistence = static_cast<UINT8>(ToNumber(Item["persistence"], Where + ".persistence"));
  if (Item.contains("valid")) Heap.Valid = static_cast<UINT8>(ToNumber(Item["valid"], Where + ".valid"));
  if (Item.contains("data")) Heap.Buffer = HexBytes(Item["data"], Where + ".data");
  if (Item.contains("size")) Heap.Buffer.resize(ToNumber(Item["size"], Where + ".size"), 0);
  ApplyByteRuns(Heap.Buffer, Item, Where);
  if (Item.contains("buffer-size"))
    Heap.DeclaredSize = static_cast<UINT32>(ToNumber(Item["buffer-size"], Where + ".buffer-size"));
  return Heap;
}

json FromHeapHob(const HeapHobSpec &Heap) {
  json Item = {{"handle", HexText(Heap.Handle)}, {"persistence", Heap.Persistence}, {"valid", Heap.Valid},
               {"size", Heap.Buffer.size()}, {"bytes", ByteRuns(Heap.Buffer)}};
  if (Heap.DeclaredSize) {
    Item["buffer-size"] = HexText(*Heap.DeclaredSize);
  }
  return Item;
}

// --- Data fabric registers and the IDS NV table ---
DataFabricRegister ToDataFabric(const json &Item, const std::string &Where) {
  CheckKeys(Item, Where, {"function", "offset", "value"});
  DataFabricRegister Register;
  UINT64 Function = ToNumber(Required(Item, "function", Where), Where + ".function");
  UINT64 Offset = ToNumber(Required(Item, "offset", Where), Where + ".offset");
  if (Function > 7 || Offset > 0xFFC || Offset % 4 != 0) {
    Fail(Where, "function must be 0-7 and offset a multiple of 4 below 0x1000");
  }
  Register.Function = static_cast<UINT8>(Function);
  Register.Offset = static_cast<UINT16>(Offset);
  Register.Value = static_cast<UINT32>(ToNumber(Required(Item, "value", Where), Where + ".value"));
  return Register;
}

json FromDataFabric(const DataFabricRegister &Register) {
  return json{{"function", Register.Function}, {"offset", HexText(Register.Offset)}, {"value", HexText(Register.Value)}};
}

std::vector<UINT8> ToIdsNvOptions(const json &Items, const std::string &Where) {
  std::vector<IdsNvOption> Options;
  size_t Index = 0;
  for (const json &Item : Items) {
    std::string At = Where + "[" + std::to_string(Index++) + "]";
    CheckKeys(Item, At, {"id", "size", "value"});
    IdsNvOption Option;
    Option.Id = static_cast<UINT16>(ToNumber(Required(Item, "id", At), At + ".id"));
    Option.Size = static_cast<UINT8>(Item.contains("size") ? ToNumber(Item["size"], At + ".size") : 1);
    if (Option.Size != 1 && Option.Size != 2 && Option.Size != 4 && Option.Size != 8) {
      Fail(At, "size must be 1, 2, 4 or 8");
    }
    Option.Value = ToNumber(Required(Item, "value", At), At + ".value");
    Options.push_back(Option);
  }
  return IdsNvTableBytes(Options);
}

// --- Fabric MMIO ---
FabricTriple ToTriple(const json &Item, const std::string &Where) {
  CheckKeys(Item, Where, {"base", "size", "used"});
  FabricTriple Triple;
  Triple.Base = ToNumber(Item.value("base", json(0)), Where + ".base");
  Triple.Size = ToNumber(Item.value("size", json(0)), Where + ".size");
  Triple.Used = ToNumber(Item.value("used", json(0)), Where + ".used");
  return Triple;
}

json FromTriple(const FabricTriple &Triple) {
  return json{{"base", HexText(Triple.Base)}, {"size", HexText(Triple.Size)}, {"used", HexText(Triple.Used)}};
}

FabricMmio ToFabric(const json &Item, const std::string &Where) {
  CheckKeys(Item, Where,
            {"regions", "second-below-4g", "report-to-gcd", "second-location", "gcd-image-handle", "persistence",
             "buffer-size"});
  FabricMmio Fabric;
  if (Item.contains("regions")) {
    size_t Index = 0;
    for (const json &Region : Item["regions"]) {
      std::string At = Where + ".regions[" + std::to_string(Index++) + "]";
      CheckKeys(Region, At,
                {"socket", "root-bridge", "above-4g", "present", "non-pci", "non-prefetchable", "prefetchable"});
      FabricRegion R;
      R.Socket = static_cast<UINT8>(ToNumber(Region.value("socket", json(0)), At + ".socket"));
      R.RootBridge = static_cast<UINT8>(ToNumber(Region.value("root-bridge", json(0)), At + ".root-bridge"));
      if (R.Socket >= 4 || R.RootBridge >= 20) {
        Fail(At, "socket must be below 4 and root-bridge below 20");
      }
      R.Above4G = Region.contains("above-4g") && ToBool(Region["above-4g"], At + ".above-4g");
      R.Present = !Region.contains("present") || ToBool(Region["present"], At + ".present");
      if (Region.contains("non-pci")) R.NonPci = ToTriple(Region["non-pci"], At + ".non-pci");
      if (Region.contains("non-prefetchable"))
        R.NonPrefetchable = ToTriple(Region["non-prefetchable"], At + ".non-prefetchable");
      if (Region.contains("prefetchable")) R.Prefetchable = ToTriple(Region["prefetchable"], At + ".prefetchable");
      Fabric.Regions.push_back(R);
    }
  }
  if (Item.contains("second-below-4g")) Fabric.SecondBelow4G = ToBool(Item["second-below-4g"], Where);
  if (Item.contains("report-to-gcd")) Fabric.ReportToGcd = ToBool(Item["report-to-gcd"], Where);
  if (Item.contains("second-location"))
    Fabric.SecondLocation = static_cast<UINT8>(ToNumber(Item["second-location"], Where + ".second-location"));
  if (Item.contains("gcd-image-handle"))
    Fabric.GcdImageHandle = ToNumber(Item["gcd-image-handle"], Where + ".gcd-image-handle");
  if (Item.contains("persistence"))
    Fabric.Persistence = static_cast<UINT8>(ToNumber(Item["persistence"], Where + ".persistence"));
  if (Item.contains("buffer-size")) Fabric.BufferSize = ToNumber(Item["buffer-size"], Where + ".buffer-size");
  return Fabric;
}

json FromFabric(const FabricMmio &Fabric) {
  json Regions = json::array();
  for (const FabricRegion &R : Fabric.Regions) {
    Regions.push_back({{"socket", R.Socket},
                       {"root-bridge", R.RootBridge},
                       {"above-4g", R.Above4G},
                       {"present", R.Present},
                       {"non-pci", FromTriple(R.NonPci)},
                       {"non-prefetchable", FromTriple(R.NonPrefetchable)},
                       {"prefetchable", FromTriple(R.Prefetchable)}});
  }
  return json{{"regions", Regions},
              {"second-below-4g", Fabric.SecondBelow4G},
              {"report-to-gcd", Fabric.ReportToGcd},
              {"second-location", HexText(Fabric.SecondLocation)},
              {"gcd-image-handle", HexText(Fabric.GcdImageHandle)},
              {"persistence", Fabric.Persistence},
              {"buffer-size", Fabric.BufferSize}};
}

// --- Registers, CPUID, GCD ---
const std::pair<const char *, RegisterSpace> kSpaces[] = {
    {"mmio", RegisterSpace::Mmio}, {"io", RegisterSpace::Io}, {"msr", RegisterSpace::Msr}, {"smn", RegisterSpace::Smn}};

RegisterValue ToRegister(const json &Item, const std::string &Where) {
  CheckKeys(Item, Where, {"space", "address", "width", "value"});
  RegisterValue Register{RegisterSpace::Mmio, 0, 4, 0};
  bool Known = false;
  for (const auto &[Name, Space] : kSpaces) {
    if (Item.at("space") == Name) {
      Register.Space = Space;
      Known = true;
    }
  }
  if (!Known) {
    Fail(Where, "space must be mmio, io, msr or smn");
  }
  Register.Address = ToNumber(Item.at("address"), Where + ".address");
  UINT64 Bits = Item.contains("width") ? ToNumber(Item["width"], Where + ".width")
                                       : (Register.Space == RegisterSpace::Msr ? 64 : 32);
  if (Bits != 8 && Bits != 16 && Bits != 32 && Bits != 64) {
    Fail(Where, "width must be 8, 16, 32 or 64");
  }
  Register.Width = static_cast<UINT8>(Bits / 8);
  Register.Value = ToNumber(Item.at("value"), Where + ".value");
  return Register;
}

json FromRegister(const RegisterValue &Register) {
  json Item;
  for (const auto &[Name, Space] : kSpaces) {
    if (Space == Register.Space) {
      Item["space"] = Name;
    }
  }
  Item["address"] = HexText(Register.Address);
  Item["width"] = Register.Width * 8;
  Item["value"] = HexText(Register.Value);
  return Item;
}

const std::pair<const char *, EFI_GCD_MEMORY_TYPE> kGcdTypes[] = {
    {"reserved", EfiGcdMemoryTypeReserved},
    {"system-memory", EfiGcdMemoryTypeSystemMemory},
    {"mmio", EfiGcdMemoryTypeMemoryMappedIo},
};

}  // namespace

HubSim::Profile ProfileFromJson(const json &Json) {
  CheckKeys(Json, "profile",
            {"name", "system-table-revision", "protocols", "pcds", "pcds-ex", "smm-comm-buffer", "smm-boot-script-ready", "hobs",
             "heap-hobs", "fabric-mmio", "registers", "data-fabric", "cpuid", "smu-response", "tsc-step", "gcd",
             "ids-hooks", "ids-nv-table", "ids-nv-options", "ids-nv-table-size"});
  Profile P;
  if (Json.contains("name")) P.Name = Json["name"].get<std::string>();
  if (Json.contains("system-table-revision"))
    P.SystemTableRevision = static_cast<UINT32>(ToNumber(Json["system-table-revision"], "system-table-revision"));
  if (Json.contains("protocols")) {
    const json &Present = Json["protocols"];
    CheckKeys(Present, "protocols",
              {"pcd", "efi-pcd", "s3-save-state", "smm-communication", "debug-print", "ids-hook-extension", "hob-list",
               "dxe-services"});
    auto Read = [&Present](const char *Key, bool &Flag) {
      if (Present.contains(Key)) Flag = ToBool(Present[Key], std::string("protocols.") + Key);
    };
    Read("pcd", P.Present.Pcd);
    Read("efi-pcd", P.Present.EfiPcd);
    Read("s3-save-state", P.Present.S3SaveState);
    Read("smm-communication", P.Present.SmmCommunication);
    Read("debug-print", P.Present.DebugPrint);
    Read("ids-hook-extension", P.Present.IdsHookExtension);
    Read("hob-list", P.Present.HobList);
    Read("dxe-services", P.Present.DxeServices);
  }
  if (Json.contains("pcds")) {
    size_t Index = 0;
    for (const json &Item : Json["pcds"]) {
      std::string At = "pcds[" + std::to_string(Index++) + "]";
      CheckKeys(Item, At, {"token", "type", "value", "max-size"});
      P.Pcds[ToNumber(Item.at("token"), At + ".token")] = ToPcd(Item, At);
    }
  }
  if (Json.contains("pcds-ex")) {
    size_t Index = 0;
    for (const json &Item : Json["pcds-ex"]) {
      std::string At = "pcds-ex[" + std::to_string(Index++) + "]";
      CheckKeys(Item, At, {"space", "token", "type", "value", "max-size"});
      P.PcdsEx[PcdExKey{ToGuid(Item.at("space"), At + ".space"), ToNumber(Item.at("token"), At + ".token")}] =
          ToPcd(Item, At);
    }
  }
  if (Json.contains("smm-comm-buffer")) P.SmmCommBuffer = ToBool(Json["smm-comm-buffer"], "smm-comm-buffer");
  if (Json.contains("smm-boot-script-ready"))
    P.SmmBootScriptReady = ToBool(Json["smm-boot-script-ready"], "smm-boot-script-ready");
  if (Json.contains("hobs")) {
    size_t Index = 0;
    for (const json &Item : Json["hobs"]) {
      std::string At = "hobs[" + std::to_string(Index++) + "]";
      GuidHob Hob = ToHob(Item, At);
      ApplyByteRuns(Hob, Item, At);
      P.Hobs.push_back(Hob);
    }
  }
  if (Json.contains("heap-hobs")) {
    size_t Index = 0;
    for (const json &Item : Json["heap-hobs"]) {
      P.HeapHobs.push_back(ToHeapHob(Item, "heap-hobs[" + std::to_string(Index++) + "]"));
    }
  }
  if (Json.contains("fabric-mmio")) P.Fabric = ToFabric(Json["fabric-mmio"], "fabric-mmio");
  if (Json.contains("data-fabric")) {
    size_t Index = 0;
    for (const json &Item : Json["data-fabric"]) {
      P.DataFabric.push_back(ToDataFabric(Item, "data-fabric[" + std::to_string(Index++) + "]"));
    }
  }
  if (Json.contains("registers")) {
    size_t Index = 0;
    for (const json &Item : Json["registers"]) {
      P.Registers.push_back(ToRegister(Item, "registers[" + std::to_string(Index++) + "]"));
    }
  }
  if (Json.contains("cpuid")) {
    size_t Index = 0;
    for (const json &Item : Json["cpuid"]) {
      std::string At = "cpuid[" + std::to_string(Index++) + "]";
      CheckKeys(Item, At, {"leaf", "subleaf", "eax", "ebx", "ecx", "edx"});
      auto Reg = [&](const char *Key) {
        return static_cast<UINT32>(Item.contains(Key) ? ToNumber(Item[Key], At + "." + Key) : 0);
      };
      P.Cpuid.push_back({Reg("leaf"), Reg("subleaf"), !Item.contains("subleaf"), Reg("eax"), Reg("ebx"), Reg("ecx"),
                         Reg("edx")});
    }
  }
  if (Json.contains("smu-response"))
    P.SmuResponse = static_cast<UINT32>(ToNumber(Json["smu-response"], "smu-response"));
  if (Json.contains("tsc-step")) P.TscStep = ToNumber(Json["tsc-step"], "tsc-step");
  if (Json.contains("gcd")) {
    size_t Index = 0;
    for (const json &Item : Json["gcd"]) {
      std::string At = "gcd[" + std::to_string(Index++) + "]";
      CheckKeys(Item, At, {"base", "length", "type"});
      GcdSpace Space{ToNumber(Item.at("base"), At + ".base"), ToNumber(Item.at("length"), At + ".length"),
                     EfiGcdMemoryTypeMemoryMappedIo};
      bool Known = !Item.contains("type");
      for (const auto &[Name, Type] : kGcdTypes) {
        if (Item.contains("type") && Item["type"] == Name) {
          Space.Type = Type;
          Known = true;
        }
      }
      if (!Known) {
        Fail(At, "type must be mmio, reserved or system-memory");
      }
      P.Gcd.push_back(Space);
    }
  }
  if (Json.contains("ids-hooks")) {
    size_t Index = 0;
    for (const json &Item : Json["ids-hooks"]) {
      std::string At = "ids-hooks[" + std::to_string(Index++) + "]";
      CheckKeys(Item, At, {"hook", "status"});
      P.IdsHooks.push_back({static_cast<UINT32>(ToNumber(Item.at("hook"), At + ".hook")),
                            ToNumber(Item.at("status"), At + ".status")});
    }
  }
  if (Json.contains("ids-nv-table") && Json.contains("ids-nv-options")) {
    Fail("profile", "give ids-nv-table or ids-nv-options, not both");
  }
  if (Json.contains("ids-nv-table")) P.IdsNvTable = HexBytes(Json["ids-nv-table"], "ids-nv-table");
  if (Json.contains("ids-nv-options")) P.IdsNvTable = ToIdsNvOptions(Json["ids-nv-options"], "ids-nv-options");
  if (Json.contains("ids-nv-table-size"))
    P.IdsNvReportedSize = static_cast<UINT32>(ToNumber(Json["ids-nv-table-size"], "ids-nv-table-size"));
  return P;
}

HubSim::Profile LoadProfile(const std::string &Path) {
  std::ifstream File(Path);
  if (!File) {
    throw ProfileError(Path + ": cannot open");
  }
  json Json;
  try {
    File >> Json;
  } catch (const json::exception &Error) {
    throw ProfileError(Path + ": " + Error.what());
  }
  try {
    return ProfileFromJson(Json);
  } catch (const json::exception &Error) {
    throw ProfileError(Path + ": " + Error.what());
  }
}

json ProfileToJson(const HubSim::Profile &P) {
  json Json;
  Json["name"] = P.Name;
  Json["system-table-revision"] = HexText(P.SystemTableRevision);
  Json["protocols"] = {{"pcd", P.Present.Pcd},
                       {"efi-pcd", P.Present.EfiPcd},
                       {"s3-save-state", P.Present.S3SaveState},
                       {"smm-communication", P.Present.SmmCommunication},
                       {"debug-print", P.Present.DebugPrint},
                       {"ids-hook-extension", P.Present.IdsHookExtension},
                       {"hob-list", P.Present.HobList},
                       {"dxe-services", P.Present.DxeServices}};
  Json["pcds"] = json::array();
  for (const auto &[Token, Value] : P.Pcds) {
    json Item = FromPcd(Value);
    Item["token"] = Token;
    Json["pcds"].push_back(Item);
  }
  Json["pcds-ex"] = json::array();
  for (const auto &[Key, Value] : P.PcdsEx) {
    json Item = FromPcd(Value);
    Item["space"] = HostEnv::GuidToString(Key.Space);
    Item["token"] = HexText(Key.Token);
    Json["pcds-ex"].push_back(Item);
  }
  Json["smm-comm-buffer"] = P.SmmCommBuffer;
  Json["smm-boot-script-ready"] = P.SmmBootScriptReady;
  Json["hobs"] = json::array();
  for (const GuidHob &Hob : P.Hobs) {
    Json["hobs"].push_back(FromHob(Hob));
  }
  if (!P.HeapHobs.empty()) {
    Json["heap-hobs"] = json::array();
    for (const HeapHobSpec &Heap : P.HeapHobs) {
      Json["heap-hobs"].push_back(FromHeapHob(Heap));
    }
  }
  if (P.Fabric) {
    Json["fabric-mmio"] = FromFabric(*P.Fabric);
  }
  Json["registers"] = json::array();
  for (const RegisterValue &Register : P.Registers) {
    Json["registers"].push_back(FromRegister(Register));
  }
  if (!P.DataFabric.empty()) {
    Json["data-fabric"] = json::array();
    for (const DataFabricRegister &Register : P.DataFabric) {
      Json["data-fabric"].push_back(FromDataFabric(Register));
    }
  }
  Json["cpuid"] = json::array();
  for (const CpuidValue &Leaf : P.Cpuid) {
    json Item = {{"leaf", HexText(Leaf.Leaf)}, {"eax", HexText(Leaf.Eax)}, {"ebx", HexText(Leaf.Ebx)},
                 {"ecx", HexText(Leaf.Ecx)},   {"edx", HexText(Leaf.Edx)}};
    if (!Leaf.AnySubLeaf) {
      Item["subleaf"] = HexText(Leaf.SubLeaf);
    }
    Json["cpuid"].push_back(Item);
  }
  Json["smu-response"] = HexText(P.SmuResponse);
  Json["tsc-step"] = P.TscStep;
  Json["gcd"] = json::array();
  for (const GcdSpace &Space : P.Gcd) {
    json Item = {{"base", HexText(Space.Base)}, {"length", HexText(Space.Length)}};
    for (const auto &[Name, Type] : kGcdTypes) {
      if (Type == Space.Type) {
        Item["type"] = Name;
      }
    }
    Json["gcd"].push_back(Item);
  }
  Json["ids-hooks"] = json::array();
  for (const IdsHookAnswer &Answer : P.IdsHooks) {
    Json["ids-hooks"].push_back({{"hook", HexText(Answer.HookId)}, {"status", HexText(Answer.Status)}});
  }
  if (!P.IdsNvTable.empty()) {
    Json["ids-nv-table"] = HexString(P.IdsNvTable);
  }
  if (P.IdsNvReportedSize) {
    Json["ids-nv-table-size"] = HexText(*P.IdsNvReportedSize);
  }
  return Json;
}

}  // namespace HubSimTool
