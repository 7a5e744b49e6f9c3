// One simulated boot of XchKryDxe: load and run the entry, install a PCI I/O
// protocol (Mid), install the DXE SMM ready-to-lock protocol, signal
// ready-to-boot (Late), on the platform a profile describes, with the
// chipset trace on.
#pragma once

#include <HostEnv/Environment.h>
#include <HubSim/HubPlatform.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace HubSimTool {

enum class Stage { Entry, Mid, Late };

struct ResetSeen {
  UINT16 Port;
  UINT8  Value;
};

struct PhaseCounts {
  size_t Env = 0, Mid = 0, Late = 0;
};

// Writes (MMIO, I/O, MSR) the driver made after each stimulus.
struct StageWrites {
  std::string Stage;
  size_t      Writes;
};

class HubRun {
 public:
  explicit HubRun(const HubSim::Profile &Profile);
  ~HubRun();

  // Runs up to and including Last. A reset request ends the run early.
  void Run(Stage Last = Stage::Late);

  HostEnv::Environment &Env() { return *Env_; }
  HubSim::HubPlatform  &Platform() { return *Platform_; }

  EFI_STATUS                      EntryStatus() const { return EntryStatus_; }
  const std::optional<ResetSeen> &Reset() const { return Reset_; }
  PhaseCounts                     PhasesRun() const;
  std::vector<StageWrites>        WritesPerStage() const;
  // Writes inside each phase that started: XchInitEnv from the init
  // protocol's installation, XchInitMid and XchInitLate from their Enter
  // lines, each up to its Exit line (or the end of the run).
  std::vector<StageWrites>        WritesPerPhase() const;

 private:
  bool Step(const char *Name, const std::function<void()> &Action);
  void RunStages(Stage Last);
  void ReportUnsentS3Table();

  std::unique_ptr<HostEnv::Environment> Env_;
  std::unique_ptr<HubSim::HubPlatform>  Platform_;
  EFI_STATUS                            EntryStatus_ = EFI_NOT_STARTED;
  std::optional<ResetSeen>              Reset_;
};

Stage ParseStage(const std::string &Name);  // "entry", "mid" or "late"

}  // namespace HubSimTool
