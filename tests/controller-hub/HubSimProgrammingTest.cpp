// hub-sim running the complete Env and Late programming: the shipped
// profiles' phases write exactly what the documentation lists, the summary
// counts them and shows the banner the simulated UART received, and a reset
// request ends the run.
#include <gtest/gtest.h>

#include <XchInit.h>

#include <sstream>

#include "HubProgrammingExpectations.h"
#include "HubRun.h"
#include "ProfileJson.h"
#include "Summary.h"

namespace {

const std::string kEnvExit = "  XchInitEnv Exit... Status = [0x0]\n";
const std::string kLateExit = "  XchInitLate Exit... Status = [0x0]\n";

std::string SummaryOf(HubSimTool::HubRun &Run) {
  std::stringstream Text;
  HubSimTool::WriteSummary(Text, Run);
  return Text.str();
}

size_t PhaseCount(const HubSimTool::HubRun &Run, const std::string &Phase) {
  for (const HubSimTool::StageWrites &Entry : Run.WritesPerPhase()) {
    if (Entry.Stage == Phase) return Entry.Writes;
  }
  ADD_FAILURE() << "no phase " << Phase;
  return 0;
}

class ShippedProfile : public ::testing::TestWithParam<const char *> {};

TEST_P(ShippedProfile, EnvAndLateWriteEveryDocumentedRegisterInOrder) {
  HubSimTool::HubRun Run(HubSimTool::LoadProfile(std::string(HUB_SIM_PROFILES "/") + GetParam()));
  Run.Run();
  ASSERT_FALSE(Run.Reset());
  // Late reads no field that Env or Mid change, so the block as built serves both.
  const std::vector<UINT8> &AsBuilt = Run.Platform().DataBlockAsBuilt();
  ASSERT_EQ(AsBuilt.size(), 1802u);
  const auto &Trace = Run.Env().Chipset().Trace();
  const auto &Events = Run.Platform().Events();

  ExpectedWrites Expected(nullptr, nullptr);
  ExpectEnvPhase(Expected, AsBuilt.data(), reinterpret_cast<UINT64>(XchPrivate()->Interface.DataBlock));
  EXPECT_TRUE(SameWrites(PhaseWrites(Trace, Events, 0xB000AF06, kEnvExit), Expected.Writes()));
  // The summary's count: the phase's own test point, the tasks, nothing else.
  EXPECT_EQ(PhaseCount(Run, "XchInitEnv"), 1 + Expected.Writes().size());

  Expected.ClearWrites();
  ExpectLatePhase(Expected, AsBuilt.data());
  EXPECT_TRUE(SameWrites(PhaseWrites(Trace, Events, 0xB000AF08, kLateExit), Expected.Writes()));
  EXPECT_EQ(PhaseCount(Run, "XchInitMid"), 1u);  // its test point only

  std::string Summary = SummaryOf(Run);
  EXPECT_NE(Summary.find("Register writes per phase: XchInitEnv "), std::string::npos) << Summary;
  EXPECT_NE(Summary.find("UART received: \" --- Init Xch Uart --- \"\n"), std::string::npos) << Summary;
}

INSTANTIATE_TEST_SUITE_P(Profiles, ShippedProfile, ::testing::Values("default.json", "all-options.json"),
                         [](const auto &Info) {
                           std::string Name = Info.param;
                           return Name.substr(0, Name.find('.')) == "default" ? std::string("Default")
                                                                               : std::string("AllOptions");
                         });

TEST(HubSimProgramming, AResetRequestEndsTheRunInsideTheLatePhase) {
  const std::tuple<int, int, int> Requests[] = {{1, 0x64, 0xFE}, {2, 0xCF9, 0x06}, {3, 0xCF9, 0x0E}};
  for (auto [Request, Port, Value] : Requests) {
    HubSim::Profile Profile = HubSim::DefaultProfile();
    Profile.Pcds[842] = HubSim::PcdValue::Number(HubSim::PcdType::U8, Request);
    HubSimTool::HubRun Run(Profile);
    Run.Run();
    ASSERT_TRUE(Run.Reset()) << "request " << Request;
    EXPECT_EQ(Run.Reset()->Port, Port);
    EXPECT_EQ(Run.Reset()->Value, Value);
    const auto &Trace = Run.Env().Chipset().Trace();
    ASSERT_FALSE(Trace.empty());
    EXPECT_EQ(Trace.back().Kind, HostEnv::TraceKind::Io);
    EXPECT_EQ(Trace.back().Address, UINT64(Port));
    EXPECT_EQ(Trace.back().Value, UINT64(Value));
    std::string Summary = SummaryOf(Run);
    EXPECT_EQ(Summary.find("XchInitLate Exit"), std::string::npos);
    char Line[64];
    std::snprintf(Line, sizeof(Line), "Reset: 0x%X to port 0x%X ended the run\n", Value, Port);
    EXPECT_NE(Summary.find(Line), std::string::npos) << Summary;
  }
}

TEST(HubSimProgramming, WithoutARoutingWordTheUartReceivesNothing) {
  HubSim::Profile Profile = HubSim::DefaultProfile();
  Profile.Pcds[335] = HubSim::PcdValue::Number(HubSim::PcdType::U8, 0);
  HubSimTool::HubRun Run(Profile);
  Run.Run();
  EXPECT_EQ(Run.Platform().UartReceived(), "");
  EXPECT_EQ(SummaryOf(Run).find("UART received"), std::string::npos);
}

}  // namespace
