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
#include <stdexcept>
#include <string>

namespace HubSimTool {

enum class Stage { Entry, Mid, Late };

// Hardware accesses a run may make before it is taken for a stuck driver:
// far above what a whole boot of the shipped profiles needs, far below what
// would strain the memory that keeps the trace.
constexpr UINT64 kDefaultMaxAccesses = 1000000;

// Thrown out of the driver's hardware access when the run has used up its
// accesses.
struct AccessBoundReached : std::runtime_error {
  AccessBoundReached() : std::runtime_error("hardware access bound reached") {}
};

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
  explicit HubRun(const HubSim::Profile &Profile, UINT64 MaxAccesses = kDefaultMaxAccesses);
  ~HubRun();

  // Runs up to and including Last. A reset request ends the run early.
  void Run(Stage Last = Stage::Late);

  HostEnv::Environment &Env() { return *Env_; }
  HubSim::HubPlatform  &Platform() { return *Platform_; }

  EFI_STATUS                      EntryStatus() const { return EntryStatus_; }
  const std::optional<ResetSeen> &Reset() const { return Reset_; }
  // The stimulus during which the run hit its access bound, if it did.
  const std::optional<std::string> &StoppedAtBound() const { return StoppedAtBound_; }
  UINT64                            MaxAccesses() const { return MaxAccesses_; }
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
  UINT64                                MaxAccesses_;
  std::optional<std::string>            StoppedAtBound_;
};

Stage ParseStage(const std::string &Name);  // "entry", "mid" or "late"

}  // namespace HubSimTool
