// hub-sim end to end: whole boots on profiles, the trace format, the data
// block dump, the profile format and the shipped default profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>

#include "HubRun.h"
#include "ProfileJson.h"
#include "TraceJson.h"
#include "XchDataBlock.h"

using nlohmann::json;

namespace {

TEST(HubSim, TheDefaultPlatformRunsEachPhaseOnce) {
  HubSimTool::HubRun Run(HubSim::DefaultProfile());
  Run.Run();
  EXPECT_EQ(Run.EntryStatus(), EFI_SUCCESS);
  HubSimTool::PhaseCounts Phases = Run.PhasesRun();
  EXPECT_EQ(Phases.Env, 1u);
  EXPECT_EQ(Phases.Mid, 1u);
  EXPECT_EQ(Phases.Late, 1u);
  EXPECT_FALSE(Run.Reset());
  std::vector<HubSimTool::StageWrites> Stages = Run.WritesPerStage();
  ASSERT_EQ(Stages.size(), 4u);
  EXPECT_EQ(Stages[0].Stage, "entry");
  EXPECT_EQ(Stages[3].Stage, "ready-to-boot");
  EXPECT_GT(Stages[0].Writes, 0u);
}

TEST(HubSim, StopAfterEntryRunsNeitherMidNorLate) {
  HubSimTool::HubRun Run(HubSim::DefaultProfile());
  Run.Run(HubSimTool::Stage::Entry);
  HubSimTool::PhaseCounts Phases = Run.PhasesRun();
  EXPECT_EQ(Phases.Env, 1u);
  EXPECT_EQ(Phases.Mid, 0u);
  EXPECT_EQ(Phases.Late, 0u);
}

TEST(HubSim, StopAfterMidRunsNoLate) {
  HubSimTool::HubRun Run(HubSim::DefaultProfile());
  Run.Run(HubSimTool::Stage::Mid);
  EXPECT_EQ(Run.PhasesRun().Mid, 1u);
  EXPECT_EQ(Run.PhasesRun().Late, 0u);
}

// Every line of the documented format and nothing else.
void CheckLine(const nlohmann::ordered_json &Line, UINT64 Seq) {
  static const std::regex Hex("0x[0-9A-F]+");
  static const std::set<std::string> EventNames = {"test-point", "debug", "pcd-set", "boot-script", "s3-record",
                                                   "smm-communicate", "gcd", "protocol-install", "phase", "reset"};
  ASSERT_TRUE(Line.is_object());
  ASSERT_EQ(Line.begin().key(), "seq");
  EXPECT_EQ(Line["seq"].get<UINT64>(), Seq);
  const std::string Kind = Line["kind"].get<std::string>();
  if (Kind == "mmio" || Kind == "io" || Kind == "msr") {
    std::vector<std::string> Keys;
    for (const auto &Item : Line.items()) Keys.push_back(Item.key());
    EXPECT_EQ(Keys, (std::vector<std::string>{"seq", "kind", "op", "width", "addr", "value"}));
    EXPECT_TRUE(Line["op"] == "r" || Line["op"] == "w");
    std::set<int> Widths = {8, 16, 32, 64};
    EXPECT_TRUE(Widths.count(Line["width"].get<int>()));
    EXPECT_TRUE(std::regex_match(Line["addr"].get<std::string>(), Hex));
    EXPECT_TRUE(std::regex_match(Line["value"].get<std::string>(), Hex));
  } else if (Kind == "cpuid") {
    EXPECT_EQ(Line.size(), 4u);
    EXPECT_TRUE(std::regex_match(Line["leaf"].get<std::string>(), Hex));
    EXPECT_TRUE(std::regex_match(Line["subleaf"].get<std::string>(), Hex));
  } else {
    ASSERT_EQ(Kind, "event");
    EXPECT_TRUE(EventNames.count(Line["name"].get<std::string>())) << Line.dump();
  }
}

TEST(HubSim, TheTraceIsJsonLinesInTheDocumentedFormat) {
  HubSimTool::HubRun Run(HubSim::DefaultProfile());
  Run.Run();
  std::stringstream Text;
  HubSimTool::WriteTrace(Text, Run.Env().Chipset().Trace(), Run.Platform().Events());
  std::string Line;
  UINT64 Seq = 0;
  std::map<std::string, size_t> Kinds;
  while (std::getline(Text, Line)) {
    nlohmann::ordered_json Parsed = nlohmann::ordered_json::parse(Line);
    CheckLine(Parsed, ++Seq);
    ++Kinds[Parsed["kind"] == "event" ? Parsed["name"].get<std::string>() : Parsed["kind"].get<std::string>()];
  }
  EXPECT_GT(Seq, 50u);
  for (const char *Expected : {"mmio", "io", "msr", "test-point", "debug", "pcd-set", "boot-script",
                               "smm-communicate", "protocol-install", "phase"}) {
    EXPECT_GT(Kinds[Expected], 0u) << Expected;
  }
}

TEST(HubSim, EventsSitBetweenTheAccessesAroundThem) {
  // Each test point event follows its own port 0x80 write.
  HubSimTool::HubRun Run(HubSim::DefaultProfile());
  Run.Run(HubSimTool::Stage::Entry);
  std::vector<nlohmann::ordered_json> Lines = HubSimTool::TraceLines(Run.Env().Chipset().Trace(), Run.Platform().Events());
  size_t Checked = 0;
  for (size_t Index = 1; Index < Lines.size(); ++Index) {
    if (Lines[Index]["kind"] == "event" && Lines[Index]["name"] == "test-point") {
      EXPECT_EQ(Lines[Index - 1]["kind"], "io");
      EXPECT_EQ(Lines[Index - 1]["addr"], "0x80");
      EXPECT_EQ(Lines[Index - 1]["value"], Lines[Index]["value"]);
      ++Checked;
    }
  }
  EXPECT_EQ(Checked, 11u);
}

TEST(HubSim, WithoutTheControllerHubHobTheDumpIsTheTemplate) {
  HubSim::Profile Profile = HubSimTool::LoadProfile(HUB_TEST_PROFILES "/no-hub-hob.json");
  HubSimTool::HubRun Run(Profile);
  Run.Run();
  const std::vector<UINT8> &Block = Run.Platform().DataBlockAsBuilt();
  EXPECT_EQ(Block, std::vector<UINT8>(XchDataBlockTemplate.Bytes, XchDataBlockTemplate.Bytes + 1802));
}

TEST(HubSimProfile, TheShippedDefaultProfileIsTheBuiltInDefault) {
  HubSim::Profile Shipped = HubSimTool::LoadProfile(HUB_SIM_PROFILES "/default.json");
  EXPECT_EQ(HubSimTool::ProfileToJson(Shipped), HubSimTool::ProfileToJson(HubSim::DefaultProfile()))
      << "expected file contents:\n"
      << HubSimTool::ProfileToJson(HubSim::DefaultProfile()).dump(2);
}

TEST(HubSimProfile, ProfilesSurviveARoundTrip) {
  HubSim::Profile Profile = HubSim::DefaultProfile();
  Profile.Present.IdsHookExtension = true;
  Profile.IdsHooks = {{0xD0000002, 0x8000000000000003ULL}};
  Profile.IdsNvTable = {0x24, 0x49, 0x4E, 0x56};
  Profile.Cpuid = {{1, 0, true, 0x00A20F10, 0, 0, 0}, {7, 0, false, 0, 1, 0, 0}};
  Profile.Hobs.push_back({{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, {0, 1, 0, 0, 2, 3}, UINT16{40}});
  Profile.Registers.push_back({HubSim::RegisterSpace::Smn, 0x3B10998, 4, 0x42});
  json Once = HubSimTool::ProfileToJson(Profile);
  EXPECT_EQ(HubSimTool::ProfileToJson(HubSimTool::ProfileFromJson(Once)), Once);
}

TEST(HubSimProfile, MistakesAreReportedWithTheirPlace) {
  auto ErrorOf = [](const char *Text) -> std::string {
    try {
      HubSimTool::ProfileFromJson(json::parse(Text));
    } catch (const HubSimTool::ProfileError &Error) {
      return Error.what();
    }
    return "";
  };
  EXPECT_NE(ErrorOf(R"({"pcd": []})").find("unknown key \"pcd\""), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"registers": [{"space": "mmio", "address": 1, "width": 12, "value": 0}]})")
                .find("registers[0]: width must be 8, 16, 32 or 64"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"hobs": [{"guid": "not-a-guid"}]})").find("hobs[0].guid"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"pcds": [{"token": 1, "type": "24", "value": 0}]})").find("unknown PCD type"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"smu-response": "zero"})").find("smu-response"), std::string::npos);
  EXPECT_EQ(ErrorOf(R"({"name": "fine"})"), "");
}

}  // namespace

// --- Heap buffers, IDS options, MMIO allocation and trace memory ---
namespace {

std::vector<nlohmann::ordered_json> DefaultTrace() {
  HubSimTool::HubRun Run(HubSim::DefaultProfile());
  Run.Run();
  return HubSimTool::TraceLines(Run.Env().Chipset().Trace(), Run.Platform().Events());
}

TEST(HubSim, TheDefaultPlatformProgramsTraceMemoryInItsFirstMegabyte) {
  std::vector<nlohmann::ordered_json> Lines = DefaultTrace();
  auto Find = [&](auto Match) { return std::find_if(Lines.begin(), Lines.end(), Match); };
  auto Gcd = Find([](const auto &L) { return L["kind"] == "event" && L["name"] == "gcd" && L["op"] == "allocate"; });
  auto Pcd = Find([](const auto &L) { return L["kind"] == "event" && L["name"] == "pcd-set" && L["token"] == 806; });
  auto Write = Find([](const auto &L) { return L["kind"] == "mmio" && L["op"] == "w" && L["addr"] == "0xFED803FC"; });
  ASSERT_NE(Gcd, Lines.end());
  ASSERT_NE(Pcd, Lines.end());
  ASSERT_NE(Write, Lines.end());
  EXPECT_EQ((*Gcd)["base"], "0xF8000000");
  EXPECT_EQ((*Gcd)["length"], "0x100000");
  EXPECT_EQ((*Pcd)["value"], "0xF8000000");
  EXPECT_EQ((*Write)["value"], "0xF8000001");  // base bits 20-31 and the enable bit
  EXPECT_LT(Gcd, Pcd);
  EXPECT_LT(Pcd, Write);
}

TEST(HubSimProfile, NewPlatformPartsSurviveARoundTrip) {
  HubSim::Profile Profile = HubSim::DefaultProfile();
  HubSim::HeapHobSpec Heap;
  Heap.Handle = 0x1234;
  Heap.Persistence = 8;
  Heap.Valid = 0;
  Heap.Buffer = {0, 1, 2, 0, 0, 3};
  Heap.DeclaredSize = 64;
  Profile.HeapHobs = {Heap};
  Profile.Fabric->BufferSize = 14000;
  Profile.Fabric->Regions.push_back({1, 3, true, {0x2000000000, 0x100000, 0}, {}, {}, false});
  Profile.DataFabric.push_back({0, 0xC88, 0x00400003});
  Profile.IdsNvTable = {0x24, 0x49, 0x4E, 0x56};
  Profile.IdsNvReportedSize = 40;
  json Once = HubSimTool::ProfileToJson(Profile);
  EXPECT_EQ(HubSimTool::ProfileToJson(HubSimTool::ProfileFromJson(Once)), Once);
}

TEST(HubSimProfile, IdsNvOptionsBuildTheDocumentedTable) {
  HubSim::Profile Profile = HubSimTool::ProfileFromJson(json::parse(R"({"ids-nv-options": [
      {"id": "0xD001", "value": "0x7F"}, {"id": "0xD002", "size": 2, "value": "0xBEEF"},
      {"id": 53251, "size": 4, "value": "0xDEADBEEF"}, {"id": "0xD004", "size": 8, "value": "0x0123456789ABCDEF"}]})"));
  std::vector<UINT8> Expected = {0x24, 0x49, 0x4E, 0x56};
  Expected.resize(32, 0);
  for (UINT8 Byte : {0x01, 0xD0, 0x00, 0x7F, 0x02, 0xD0, 0x01, 0xEF, 0xBE, 0x03, 0xD0, 0x02, 0xEF, 0xBE, 0xAD, 0xDE,
                     0x04, 0xD0, 0x03, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01, 0xFF, 0xFF}) {
    Expected.push_back(Byte);
  }
  EXPECT_EQ(Profile.IdsNvTable, Expected);
}

TEST(HubSimProfile, TheIdsOptionsExampleCarriesItsOptionsIntoTheDataBlock) {
  HubSimTool::HubRun Run(HubSimTool::LoadProfile(HUB_SIM_PROFILES "/ids-options.json"));
  Run.Run();
  const std::vector<UINT8> &Block = Run.Platform().DataBlockAsBuilt();
  ASSERT_EQ(Block.size(), 1802u);
  UINT32 Flags = 0;
  std::memcpy(&Flags, Block.data() + 4, 4);
  EXPECT_EQ(Flags, 0x40201800u);
  EXPECT_EQ(Block[0x1A], 1);
  EXPECT_EQ(std::vector<UINT8>(Block.begin() + 0x25, Block.begin() + 0x29), (std::vector<UINT8>{0x11, 0x22, 0x33, 0x44}));
  std::vector<UINT32> Handles;
  for (const HubSim::HeapBufferInfo &Buffer : Run.Platform().HeapBuffers()) Handles.push_back(Buffer.Handle);
  EXPECT_EQ(Handles, (std::vector<UINT32>{0x1234, 0xA029, 0x5444564E}));
  EXPECT_EQ(Run.Platform().IdsHookCalls(), (std::vector<UINT32>{0xFFFFFFFE, 0xFFFFFFFE}));
}

TEST(HubSimProfile, MistakesInTheNewKeysAreReportedWithTheirPlace) {
  auto ErrorOf = [](const char *Text) -> std::string {
    try {
      HubSimTool::ProfileFromJson(json::parse(Text));
    } catch (const HubSimTool::ProfileError &Error) {
      return Error.what();
    }
    return "";
  };
  EXPECT_NE(ErrorOf(R"({"heap-hobs": [{"persistence": 1}]})").find("heap-hobs[0]"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"heap-hobs": [{"handle": 1, "flags": 1}]})").find("unknown key \"flags\""), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"data-fabric": [{"function": 8, "offset": 0, "value": 0}]})").find("data-fabric[0]"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"data-fabric": [{"function": 0, "offset": "0xC81", "value": 0}]})").find("multiple of 4"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"ids-nv-options": [{"id": 1, "size": 3, "value": 0}]})").find("ids-nv-options[0]"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"ids-nv-table": "00", "ids-nv-options": []})").find("not both"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"fabric-mmio": {"regions": [{"present": 1}]}})").find("present"), std::string::npos);
  EXPECT_EQ(ErrorOf(R"({"heap-hobs": [{"handle": "0xA029", "size": 16, "bytes": {"0x4": "FF"}}]})"), "");
}

}  // namespace
