#include "HubRun.h"

#include <XchKryDxe.h>

#include <stdexcept>

namespace HubSimTool {

using HostEnv::TraceKind;
using HostEnv::TraceOp;

HubRun::HubRun(const HubSim::Profile &Profile, UINT64 MaxAccesses)
    : Env_(std::make_unique<HostEnv::Environment>(HubSim::HubPlatform::EnvironmentOptions(Profile))),
      Platform_(std::make_unique<HubSim::HubPlatform>(*Env_, Profile)),
      MaxAccesses_(MaxAccesses) {
  Env_->Chipset().EnableTrace();
}

HubRun::~HubRun() {
  Platform_.reset();
  Env_.reset();
}

// Runs one stimulus; false when the driver asked for a reset during it.
bool HubRun::Step(const char *Name, const std::function<void()> &Action) {
  Platform_->Note("phase", {HubSim::Text("stimulus", Name)});
  try {
    Action();
  } catch (const HubSim::SimulatedReset &Request) {
    Reset_ = ResetSeen{Request.Port, Request.Value};
    return false;
  } catch (const AccessBoundReached &) {
    StoppedAtBound_ = Name;
    return false;
  }
  return true;
}

// A driver that never finishes (polling a register that never changes) is
// stopped at the bound, before the trace it leaves can exhaust the memory.
void HubRun::Run(Stage Last) {
  Env_->Chipset().BoundAccesses(MaxAccesses_, [] { throw AccessBoundReached(); });
  RunStages(Last);
  Env_->Chipset().BoundAccesses(0, nullptr);
  ReportUnsentS3Table();
}

void HubRun::RunStages(Stage Last) {
  XchKryDxeResetModuleState();
  HostEnv::ImageOptions Image;
  Image.FileName = u"XchKryDxe.efi";
  EFI_HANDLE Handle = Env_->LoadImage(XchKryDxeModuleEntry, Image);
  if (!Step("entry", [&] { EntryStatus_ = Env_->StartImage(Handle); }) || EFI_ERROR(EntryStatus_) ||
      Last == Stage::Entry) {
    return;
  }
  HostEnv::PciDeviceConfig Device;
  Device.Location.Bus = 1;
  Device.VendorId = 0x1234;
  Device.DeviceId = 0x0001;
  if (!Step("pci-io", [&] { Env_->AddPciDevice(Device); }) || Last == Stage::Mid) {
    return;
  }
  if (!Step("smm-ready-to-lock", [&] {
        Platform_->InstallSmmReadyToLock();
        if (Platform_->Settings().SmmBootScriptReady) {
          Platform_->InstallSmmBootScriptReady();
        }
      })) {
    return;
  }
  Step("ready-to-boot", [&] { Env_->SignalReadyToBoot(); });
}

// A table that never reached SMM (the run stopped early) is reported as it
// stands at the end.
void HubRun::ReportUnsentS3Table() {
  for (const HubSim::SmmMessage &Message : Platform_->SmmMessages()) {
    if (!Message.S3Table.empty()) {
      return;
    }
  }
  size_t Offset = 48;
  for (const HubSim::S3TableRecord &Record : HubSim::ParseS3Table(Platform_->LiveS3Table())) {
    Platform_->Note("s3-record", HubSim::S3RecordFields(Record, Offset, false));
    Offset += Record.Bytes.size();
  }
}

PhaseCounts HubRun::PhasesRun() const {
  // Test points 0xAF06/0xAF07/0xAF08 open the three phases; without test
  // points (no PCD protocols) the phases' own debug lines count instead.
  PhaseCounts ByTestPoint, ByDebug;
  for (UINT32 Code : Platform_->TestPoints()) {
    ByTestPoint.Env += Code == 0xB000AF06;
    ByTestPoint.Mid += Code == 0xB000AF07;
    ByTestPoint.Late += Code == 0xB000AF08;
  }
  for (const HubSim::DebugLine &Line : Platform_->DebugLog()) {
    ByDebug.Env += Line.Text.find("XchInitEnv Exit") != std::string::npos;
    ByDebug.Mid += Line.Text.find("XchInitMid Enter") != std::string::npos;
    ByDebug.Late += Line.Text.find("XchInitLate Enter") != std::string::npos;
  }
  return {std::max(ByTestPoint.Env, ByDebug.Env), std::max(ByTestPoint.Mid, ByDebug.Mid),
          std::max(ByTestPoint.Late, ByDebug.Late)};
}

std::vector<StageWrites> HubRun::WritesPerStage() const {
  std::vector<StageWrites> Stages;
  std::vector<size_t> Starts;
  for (const HubSim::HubEvent &Event : Platform_->Events()) {
    if (Event.Name == "phase") {
      Stages.push_back({Event.Field("stimulus"), 0});
      Starts.push_back(Event.TracePosition);
    }
  }
  const auto &Trace = Env_->Chipset().Trace();
  for (size_t Stage = 0; Stage < Stages.size(); ++Stage) {
    size_t End = Stage + 1 < Starts.size() ? Starts[Stage + 1] : Trace.size();
    for (size_t Index = Starts[Stage]; Index < End; ++Index) {
      TraceKind Kind = Trace[Index].Kind;
      Stages[Stage].Writes += Trace[Index].Op == TraceOp::Write &&
                              (Kind == TraceKind::Mmio || Kind == TraceKind::Io || Kind == TraceKind::Msr);
    }
  }
  return Stages;
}

namespace {
size_t CountWrites(const std::vector<HostEnv::TraceEntry> &Trace, size_t Begin, size_t End) {
  size_t Writes = 0;
  for (size_t Index = Begin; Index < End && Index < Trace.size(); ++Index) {
    TraceKind Kind = Trace[Index].Kind;
    Writes += Trace[Index].Op == TraceOp::Write &&
              (Kind == TraceKind::Mmio || Kind == TraceKind::Io || Kind == TraceKind::Msr);
  }
  return Writes;
}
}  // namespace

std::vector<StageWrites> HubRun::WritesPerPhase() const {
  struct Bounds {
    const char *Phase;
    std::optional<size_t> Begin, End;
  };
  Bounds Phases[] = {{"XchInitEnv", {}, {}}, {"XchInitMid", {}, {}}, {"XchInitLate", {}, {}}};
  for (const HubSim::HubEvent &Event : Platform_->Events()) {
    const std::string Text = Event.Name == "debug" ? Event.Field("text") : "";
    if (Event.Name == "protocol-install" && Event.Field("protocol") == "controller-hub-init" && !Phases[0].Begin) {
      Phases[0].Begin = Event.TracePosition;
    }
    for (Bounds &Phase : Phases) {
      if (Text.find(std::string(Phase.Phase) + " Enter") != std::string::npos && !Phase.Begin) {
        Phase.Begin = Event.TracePosition;
      }
      if (Text.find(std::string(Phase.Phase) + " Exit") != std::string::npos && Phase.Begin && !Phase.End) {
        Phase.End = Event.TracePosition;
      }
    }
  }
  const auto &Trace = Env_->Chipset().Trace();
  std::vector<StageWrites> Result;
  for (const Bounds &Phase : Phases) {
    if (Phase.Begin) {
      Result.push_back({Phase.Phase, CountWrites(Trace, *Phase.Begin, Phase.End.value_or(Trace.size()))});
    }
  }
  return Result;
}

Stage ParseStage(const std::string &Name) {
  if (Name == "entry") return Stage::Entry;
  if (Name == "mid") return Stage::Mid;
  if (Name == "late") return Stage::Late;
  throw std::invalid_argument("--stop-after takes entry, mid or late");
}

}  // namespace HubSimTool
