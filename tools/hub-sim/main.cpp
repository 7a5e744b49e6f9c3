// hub-sim: runs XchKryDxe through entry, Mid and Late on a simulated
// controller-hub platform and reports what it did.
//
//   hub-sim [--profile FILE.json] [--trace FILE.jsonl] [--dump-block FILE.bin]
//           [--stop-after entry|mid|late] [--max-accesses N]
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>

#include "HubRun.h"
#include "ProfileJson.h"
#include "Summary.h"
#include "TraceJson.h"

int main(int Argc, char **Argv) {
  CLI::App App{"Runs the XchKryDxe controller-hub driver on a simulated platform"};
  std::string ProfilePath, TracePath, BlockPath, StopAfter = "late";
  App.add_option("--profile", ProfilePath, "Platform profile (JSON); the built-in default platform without it");
  App.add_option("--trace", TracePath, "Write every hardware access and platform event as JSON Lines");
  App.add_option("--dump-block", BlockPath, "Write the 1802-byte data block as built, before the first Env task");
  App.add_option("--stop-after", StopAfter, "Last stage to run")->check(CLI::IsMember({"entry", "mid", "late"}));
  UINT64 MaxAccesses = HubSimTool::kDefaultMaxAccesses;
  App.add_option("--max-accesses", MaxAccesses,
                 "Hardware accesses after which the driver is taken for stuck and the run ends with status 1")
      ->check(CLI::PositiveNumber);
  CLI11_PARSE(App, Argc, Argv);

  HubSim::Profile Profile;
  try {
    Profile = ProfilePath.empty() ? HubSim::DefaultProfile() : HubSimTool::LoadProfile(ProfilePath);
  } catch (const std::exception &Error) {
    std::cerr << "hub-sim: " << Error.what() << "\n";
    return 2;
  }

  HubSimTool::HubRun Run(Profile, MaxAccesses);
  Run.Run(HubSimTool::ParseStage(StopAfter));
  HubSimTool::WriteSummary(std::cout, Run);

  int Result = EFI_ERROR(Run.EntryStatus()) ? 1 : 0;
  if (Run.StoppedAtBound()) {
    HubSimTool::WriteStuckReport(std::cerr, Run);
    Result = 1;
  }
  if (!TracePath.empty()) {
    std::ofstream Out(TracePath);
    HubSimTool::WriteTrace(Out, Run.Env().Chipset().Trace(), Run.Platform().Events());
    if (!Out) {
      std::cerr << "hub-sim: cannot write " << TracePath << "\n";
      Result = 2;
    }
  }
  if (!BlockPath.empty()) {
    const std::vector<UINT8> &Block = Run.Platform().DataBlockAsBuilt();
    if (Block.empty()) {
      std::cerr << "hub-sim: the driver built no data block\n";
      Result = 1;
    } else {
      std::ofstream Out(BlockPath, std::ios::binary);
      Out.write(reinterpret_cast<const char *>(Block.data()), static_cast<std::streamsize>(Block.size()));
      if (!Out) {
        std::cerr << "hub-sim: cannot write " << BlockPath << "\n";
        Result = 2;
      }
    }
  }
  return Result;
}
