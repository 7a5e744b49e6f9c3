// Fixture for the controller-hub suites: a fresh host environment per test
// with the simulated controller-hub platform of a profile, the driver loaded
// as DXE dispatch would, and helpers to drive the boot phases and read the
// chipset trace.
#pragma once

#include <HubSim/HubPlatform.h>
#include <TestSupport/HostEnvTest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "XchInit.h"
#include "XchKryDxe.h"

// One hardware access as the documentation lists it.
struct Access {
  HostEnv::TraceKind Kind;
  HostEnv::TraceOp   Op;
  UINT8              Width;  // bytes
  UINT64             Address;
  UINT64             Value;
  bool operator==(const Access &Other) const = default;
};
void PrintTo(const Access &Entry, std::ostream *Out);

// Shorthands: Mmio/Io/Msr reads (R) and writes (W) with the width in bytes.
Access MmioR(UINT8 Width, UINT64 Address, UINT64 Value);
Access MmioW(UINT8 Width, UINT64 Address, UINT64 Value);
Access IoR(UINT8 Width, UINT64 Address, UINT64 Value);
Access IoW(UINT8 Width, UINT64 Address, UINT64 Value);

class HubTest : public TestSupport::HostEnvTest {
 protected:
  HostEnv::Options EnvironmentOptions() const override;
  void SetUp() override;
  void TearDown() override;

  // The platform the next StartPlatform builds; tests adjust it first.
  HubSim::Profile Profile = HubSim::DefaultProfile();

  // Creates the platform (restarting the environment when the profile asks
  // for another system-table revision) and turns the trace on.
  void StartPlatform();
  // Loads the driver and runs its entry (starting the platform if needed).
  EFI_STATUS RunEntry();
  void InstallPciIo(UINT8 Bus = 1);
  void ReadyToLock();
  void ReadyToBoot() { Env().SignalReadyToBoot(); }

  HubSim::HubPlatform &Platform() { return *Platform_; }
  XCH_PRIVATE *Private() { return XchPrivate(); }
  UINT8 *Block() { return Private()->Interface.DataBlock; }

  // Hardware accesses of the trace (MMIO, I/O, MSR, CPUID) and a fresh start.
  std::vector<Access> Accesses() const;
  std::vector<Access> Writes() const;
  void ClearTrace();
  // Debug lines containing Text.
  size_t DebugLinesWith(const std::string &Text) const;
  // Events of one name.
  std::vector<HubSim::HubEvent> EventsNamed(const std::string &Name) const;

  // Frees what the driver keeps for good by design (ACPI NVS records, the
  // runtime buffers of the S3 library and the forwarder) so that anything
  // else still live at the end is reported as a leak.
  void ReleaseDriverResidents();
  void ReleaseHeapBuffers();

 private:
  std::unique_ptr<HubSim::HubPlatform> Platform_;
};
