#include "HubInternal.h"

#include <HostEnv/Text.h>
#include <uefi/Protocol/DxeSmmReadyToLock.h>
#include <uefi/Protocol/PciIo.h>

#include "Protocol/QuorHeapBuffer.h"
#include "Protocol/QuorSmmBootScript.h"
#include "Protocol/XchInitProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace HubSim {
namespace {

HubPlatform *gActive = nullptr;

struct WatchedProtocol {
  const EFI_GUID *Guid;
  const char     *Name;
};
// Installations the platform reports as "protocol-install" events. Watched
// at TPL_NOTIFY from before the driver loads, so each report comes ahead of
// the driver's own notification for the same installation.
const WatchedProtocol kWatched[] = {
    {&gXchInitProtocolGuid, "controller-hub-init"},
    {&gXchInitDoneProtocolGuid, "controller-hub-init-done"},
    {&gQuorHeapBufferProtocolGuid, "heap-buffer"},
    {&gEfiPciIoProtocolGuid, "pci-io"},
    {&gEfiDxeSmmReadyToLockProtocolGuid, "dxe-smm-ready-to-lock"},
    {&gQuorBootScriptSmmReadyProtocolGuid, "smm-boot-script-ready"},
};

VOID EFIAPI ReportInstall(EFI_EVENT, VOID *Context) {
  if (gActive == nullptr) {
    return;
  }
  const auto *Watched = static_cast<const WatchedProtocol *>(Context);
  if (Watched->Guid == &gXchInitProtocolGuid) {
    gActive->Inside().CaptureDataBlock();
  }
  gActive->Inside().Event("protocol-install",
                          {Text("protocol", Watched->Name), Text("guid", HostEnv::GuidToString(*Watched->Guid))});
}

std::string RenderHex(UINT64 Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

}  // namespace

SimulatedReset::SimulatedReset(UINT16 ResetPort, UINT8 ResetValue)
    : std::runtime_error("reset request"), Port(ResetPort), Value(ResetValue) {}

EventField Hex(const std::string &Key, UINT64 Value) { return {Key, EventField::Type::Hex, Value, {}}; }
EventField Number(const std::string &Key, UINT64 Value) { return {Key, EventField::Type::Number, Value, {}}; }
EventField Text(const std::string &Key, const std::string &Value) { return {Key, EventField::Type::Text, 0, Value}; }
EventField Flag(const std::string &Key, bool Value) { return {Key, EventField::Type::Flag, Value ? 1u : 0u, {}}; }

std::string HubEvent::Field(const std::string &Key) const {
  for (const EventField &Entry : Fields) {
    if (Entry.Key != Key) {
      continue;
    }
    switch (Entry.Kind) {
      case EventField::Type::Hex: return RenderHex(Entry.Value);
      case EventField::Type::Number: return std::to_string(Entry.Value);
      case EventField::Type::Text: return Entry.Text;
      case EventField::Type::Flag: return Entry.Value != 0 ? "true" : "false";
    }
  }
  return {};
}

void HubPlatform::Internals::Event(const std::string &Name, std::vector<EventField> Fields) {
  Events.push_back({Env.Chipset().Trace().size(), Name, std::move(Fields)});
}

EFI_HANDLE HubPlatform::Internals::InstallProtocol(const EFI_GUID &Guid, VOID *Interface, EFI_HANDLE Handle) {
  EFI_STATUS Status = Env.BootServices()->InstallProtocolInterface(&Handle, const_cast<EFI_GUID *>(&Guid),
                                                                   EFI_NATIVE_INTERFACE, Interface);
  if (EFI_ERROR(Status)) {
    std::fprintf(stderr, "hub platform: installing %s failed: %s\n", HostEnv::GuidToString(Guid).c_str(),
                 HostEnv::StatusToString(Status).c_str());
    std::abort();
  }
  InstalledProtocols.push_back({Handle, &Guid, Interface});
  return Handle;
}

// The init protocol is installed right after the data block is built and
// before the first Env task runs: the moment to keep a copy of the block.
void HubPlatform::Internals::CaptureDataBlock() {
  VOID *Interface = nullptr;
  if (EFI_ERROR(Env.BootServices()->LocateProtocol(&gXchInitProtocolGuid, nullptr, &Interface)) ||
      Interface == nullptr) {
    return;
  }
  const UINT8 *Block = static_cast<const XCH_INIT_PROTOCOL *>(Interface)->DataBlock;
  if (Block != nullptr) {
    DataBlockAsBuilt.assign(Block, Block + kDataBlockSize);
  }
}

void HubPlatform::Internals::WatchDriverProtocols() {
  EFI_BOOT_SERVICES *BS = Env.BootServices();
  for (const WatchedProtocol &Watched : kWatched) {
    EFI_EVENT Event = nullptr;
    VOID *Registration = nullptr;
    if (!EFI_ERROR(BS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, ReportInstall,
                                   const_cast<WatchedProtocol *>(&Watched), &Event))) {
      BS->RegisterProtocolNotify(const_cast<EFI_GUID *>(Watched.Guid), Event, &Registration);
      Watchers.push_back(Event);
    }
  }
}

void HubPlatform::Internals::Uninstall() {
  EFI_BOOT_SERVICES *BS = Env.BootServices();
  for (EFI_EVENT Event : Watchers) {
    BS->CloseEvent(Event);
  }
  for (auto Entry = InstalledProtocols.rbegin(); Entry != InstalledProtocols.rend(); ++Entry) {
    BS->UninstallProtocolInterface(Entry->Handle, const_cast<EFI_GUID *>(Entry->Guid), Entry->Interface);
  }
  for (EFI_GUID &Guid : InstalledTables) {
    BS->InstallConfigurationTable(&Guid, nullptr);
  }
}

HubPlatform::HubPlatform(HostEnv::Environment &Env, const Profile &Settings)
    : Env_(Env), In_(std::make_unique<Internals>(*this, Env, Settings)) {
  if (gActive != nullptr) {
    std::fprintf(stderr, "hub platform: only one platform may exist at a time\n");
    std::abort();
  }
  gActive = this;
  In_->InstallServices();
  In_->InstallChipset();
  In_->WatchDriverProtocols();
}

HubPlatform::~HubPlatform() {
  In_->Uninstall();
  gActive = nullptr;
}

HostEnv::Options HubPlatform::EnvironmentOptions(const Profile &Settings) {
  HostEnv::Options Options;
  Options.Revision = Settings.SystemTableRevision;
  Options.InstallRng = false;
  return Options;
}

HubPlatform &HubPlatform::Active() {
  if (gActive == nullptr) {
    std::fprintf(stderr, "hub platform: no platform is active\n");
    std::abort();
  }
  return *gActive;
}

const Profile &HubPlatform::Settings() const { return In_->Settings; }

void HubPlatform::InstallSmmReadyToLock() { In_->InstallProtocol(gEfiDxeSmmReadyToLockProtocolGuid, nullptr); }

void HubPlatform::InstallSmmBootScriptReady() {
  In_->InstallProtocol(gQuorBootScriptSmmReadyProtocolGuid, nullptr);
}

void HubPlatform::Note(const std::string &Name, std::vector<EventField> Fields) { In_->Event(Name, std::move(Fields)); }

const PcdValue *HubPlatform::Pcd(UINTN Token) const {
  auto Found = In_->Pcds.find(Token);
  return Found != In_->Pcds.end() ? &Found->second : nullptr;
}

const PcdValue *HubPlatform::PcdEx(const EFI_GUID &Space, UINTN Token) const {
  auto Found = In_->PcdsEx.find(PcdExKey{Space, Token});
  return Found != In_->PcdsEx.end() ? &Found->second : nullptr;
}

void HubPlatform::SetPcd(UINTN Token, const PcdValue &Value) { In_->Pcds[Token] = Value; }

UINT32 HubPlatform::Smn(UINT32 Address) const {
  auto Found = In_->SmnRegisters.find(Address);
  return Found != In_->SmnRegisters.end() ? Found->second : 0;
}
void HubPlatform::SetSmn(UINT32 Address, UINT32 Value) { In_->SmnRegisters[Address] = Value; }
void HubPlatform::SetSmuResponse(UINT32 Value) { In_->SmuResponse = Value; }
void HubPlatform::QueueSmuResponses(const std::vector<UINT32> &Values) {
  In_->SmuQueue.insert(In_->SmuQueue.end(), Values.begin(), Values.end());
}
size_t HubPlatform::SmuResponseReads() const { return In_->SmuResponseReads; }
void HubPlatform::StickAoacDevice(UINT8 Device, UINT8 Status) { In_->StuckAoac[Device] = Status; }

const std::vector<HubEvent> &HubPlatform::Events() const { return In_->Events; }
const std::vector<BootScriptEntry> &HubPlatform::BootScript() const { return In_->BootScript; }
const std::vector<PcdSetRecord> &HubPlatform::PcdSets() const { return In_->PcdSets; }
const std::vector<PcdMismatch> &HubPlatform::PcdMismatches() const { return In_->PcdMismatches; }
const std::vector<DebugLine> &HubPlatform::DebugLog() const { return In_->DebugLog; }
const std::vector<SmmMessage> &HubPlatform::SmmMessages() const { return In_->SmmMessages; }
const std::vector<GcdOperation> &HubPlatform::GcdOperations() const { return In_->GcdOperations; }
const std::vector<UINT32> &HubPlatform::TestPoints() const { return In_->TestPoints; }
const std::vector<UINT32> &HubPlatform::IdsHookCalls() const { return In_->IdsHookCalls; }
const std::string &HubPlatform::UartReceived() const { return In_->Uart; }
const std::vector<UINT8> &HubPlatform::HobList() const { return In_->HobBytes; }
const std::vector<UINT8> &HubPlatform::DataBlockAsBuilt() const { return In_->DataBlockAsBuilt; }

std::string HubPlatform::DebugText() const {
  std::string Text;
  for (const DebugLine &Line : In_->DebugLog) {
    Text += Line.Text;
  }
  return Text;
}

std::vector<HeapBufferInfo> HubPlatform::HeapBuffers() const {
  // Node: links, signature, handle, size, persistence, then the buffer at 32.
  struct Node {
    LIST_ENTRY Link;
    UINT32     Signature, Handle, Size;
    UINT8      Persistence, Valid, Reserved[2];
  };
  std::vector<HeapBufferInfo> Buffers;
  VOID *Interface = nullptr;
  if (EFI_ERROR(Env_.BootServices()->LocateProtocol(&gQuorHeapBufferProtocolGuid, nullptr, &Interface)) ||
      Interface == nullptr) {
    return Buffers;
  }
  const LIST_ENTRY *Head = &static_cast<const QUOR_HEAP_BUFFER_PROTOCOL *>(Interface)->ListHead;
  for (const LIST_ENTRY *Link = Head->ForwardLink; Link != nullptr && Link != Head; Link = Link->ForwardLink) {
    const auto *Entry = reinterpret_cast<const Node *>(Link);
    Buffers.push_back({Entry->Handle, Entry->Size, Entry->Persistence, reinterpret_cast<const UINT8 *>(Entry + 1)});
  }
  return Buffers;
}

std::vector<UINT8> HubPlatform::LiveS3Table() const {
  const PcdValue *Table = Pcd(779);
  if (Table == nullptr || Table->Value == 0) {
    return {};
  }
  const auto *Address = reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Table->Value));
  for (const HostEnv::LiveBlock &Block : Env_.Pool().LiveBlocks()) {
    if (Block.Address == Address) {
      return std::vector<UINT8>(Address, Address + Block.Size);
    }
  }
  return {};  // freed: handed to SMM at ready-to-boot
}

}  // namespace HubSim
