#include "HubTest.h"

#include <HostEnv/Text.h>
#include <Library/BaseLib.h>

#include <XchKryDxe.h>

#include "Protocol/QuorHeapBuffer.h"
#include "QuorS3SaveLib.h"

#include <cstdio>
#include <map>

using HostEnv::TraceKind;
using HostEnv::TraceOp;

void PrintTo(const Access &Entry, std::ostream *Out) {
  HostEnv::TraceEntry Trace{Entry.Kind, Entry.Op, Entry.Width, Entry.Address, Entry.Value};
  *Out << HostEnv::FormatTraceEntry(Trace);
}

Access MmioR(UINT8 Width, UINT64 Address, UINT64 Value) { return {TraceKind::Mmio, TraceOp::Read, Width, Address, Value}; }
Access MmioW(UINT8 Width, UINT64 Address, UINT64 Value) { return {TraceKind::Mmio, TraceOp::Write, Width, Address, Value}; }
Access IoR(UINT8 Width, UINT64 Address, UINT64 Value) { return {TraceKind::Io, TraceOp::Read, Width, Address, Value}; }
Access IoW(UINT8 Width, UINT64 Address, UINT64 Value) { return {TraceKind::Io, TraceOp::Write, Width, Address, Value}; }

HostEnv::Options HubTest::EnvironmentOptions() const {
  return HubSim::HubPlatform::EnvironmentOptions(HubSim::DefaultProfile());
}

void HubTest::SetUp() {
  HostEnvTest::SetUp();
  // No driver state may survive from the previous test's environment.
  XchKryDxeResetModuleState();
}

void HubTest::StartPlatform() {
  if (Platform_) {
    return;
  }
  if (Env().SystemTable()->Hdr.Revision != Profile.SystemTableRevision) {
    RestartEnvironment(HubSim::HubPlatform::EnvironmentOptions(Profile));
  }
  Platform_ = std::make_unique<HubSim::HubPlatform>(Env(), Profile);
  Env().Chipset().EnableTrace();
}

EFI_STATUS HubTest::RunEntry() {
  StartPlatform();
  XchKryDxeResetModuleState();
  HostEnv::ImageOptions Image;
  Image.FileName = u"XchKryDxe.efi";
  return Env().StartImage(Env().LoadImage(XchKryDxeModuleEntry, Image));
}

void HubTest::InstallPciIo(UINT8 Bus) {
  HostEnv::PciDeviceConfig Device;
  Device.Location.Bus = Bus;
  Device.VendorId = 0x1234;
  Device.DeviceId = 0x0001;
  Env().AddPciDevice(Device);
}

void HubTest::ReadyToLock() { Platform_->InstallSmmReadyToLock(); }

std::vector<Access> HubTest::Accesses() const {
  std::vector<Access> Result;
  for (const HostEnv::TraceEntry &Entry : const_cast<HubTest *>(this)->Env().Chipset().Trace()) {
    if (Entry.Kind == TraceKind::Mmio || Entry.Kind == TraceKind::Io || Entry.Kind == TraceKind::Msr ||
        Entry.Kind == TraceKind::Cpuid) {
      Result.push_back({Entry.Kind, Entry.Op, Entry.Width, Entry.Address, Entry.Value});
    }
  }
  return Result;
}

std::vector<Access> HubTest::Writes() const {
  std::vector<Access> Result;
  for (const Access &Entry : Accesses()) {
    if (Entry.Op == TraceOp::Write && Entry.Kind != TraceKind::Cpuid) {
      Result.push_back(Entry);
    }
  }
  return Result;
}

void HubTest::ClearTrace() { Env().Chipset().ClearTrace(); }

size_t HubTest::DebugLinesWith(const std::string &Text) const {
  size_t Count = 0;
  for (const HubSim::DebugLine &Line : Platform_->DebugLog()) {
    Count += Line.Text.find(Text) != std::string::npos;
  }
  return Count;
}

std::vector<HubSim::HubEvent> HubTest::EventsNamed(const std::string &Name) const {
  std::vector<HubSim::HubEvent> Result;
  for (const HubSim::HubEvent &Event : Platform_->Events()) {
    if (Event.Name == Name) {
      Result.push_back(Event);
    }
  }
  return Result;
}

// Heap buffers stay for every module that shares the list; the test is
// their last user.
void HubTest::ReleaseHeapBuffers() {
  // Through the protocol: the module's own globals may have been reset.
  VOID *Interface = nullptr;
  if (EFI_ERROR(BS()->LocateProtocol(&gQuorHeapBufferProtocolGuid, nullptr, &Interface)) || Interface == nullptr) {
    return;
  }
  LIST_ENTRY *Head = &static_cast<QUOR_HEAP_BUFFER_PROTOCOL *>(Interface)->ListHead;
  if (Head->ForwardLink == nullptr) {
    return;
  }
  std::vector<VOID *> Nodes;
  for (LIST_ENTRY *Link = Head->ForwardLink; Link != Head; Link = Link->ForwardLink) {
    Nodes.push_back(Link);
  }
  InitializeListHead(Head);
  for (VOID *Node : Nodes) {
    Env().Pool().FreePool(Node);
  }
}

void HubTest::ReleaseDriverResidents() {
  ReleaseHeapBuffers();
  // Memory type and size of every block the driver keeps by design.
  std::multimap<UINT32, size_t> Resident = {
      {EfiACPIMemoryNVS, sizeof(XCH_PRIVATE)}, {EfiACPIMemoryNVS, 1802},
      {EfiRuntimeServicesData, 16},  // S3 library private data
      {EfiRuntimeServicesData, 32},  {EfiRuntimeServicesData, 100}, {EfiRuntimeServicesData, 8},  // forwarder
  };
  // The table, unless it was handed to SMM and freed at ready-to-boot.
  UINT64 TableAddress = 0;
  if (QuorS3PrivateData() != nullptr && QuorS3PrivateData()->Closed == 0) {
    TableAddress = QuorS3PrivateData()->Table;
  }
  for (const HostEnv::LiveBlock &Block : Env().Pool().LiveBlocks()) {
    bool Release = reinterpret_cast<UINT64>(Block.Address) == TableAddress &&
                   Block.MemoryType == EfiRuntimeServicesData;
    auto Range = Resident.equal_range(Block.MemoryType);
    for (auto Entry = Range.first; !Release && Entry != Range.second; ++Entry) {
      if (Entry->second == Block.Size) {
        Resident.erase(Entry);
        Release = true;
        break;
      }
    }
    if (Release) {
      Env().Pool().FreePool(const_cast<void *>(Block.Address));
    }
  }
}

void HubTest::TearDown() {
  ReleaseDriverResidents();
  Platform_.reset();
  HostEnvTest::TearDown();
}
