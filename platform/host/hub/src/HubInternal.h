// What one HubPlatform owns, shared by the files that implement its
// services and chipset behaviours.
#pragma once

#include <HubSim/HubPlatform.h>

#include <uefi/Pi/PiDxeServices.h>
#include <uefi/Protocol/Pcd.h>
#include <uefi/Protocol/S3SaveState.h>
#include <uefi/Protocol/SmmCommunication.h>

#include "Protocol/QuorDebugPrint.h"
#include "Protocol/QuorIdsHookExt.h"

#include <deque>
#include <map>
#include <memory>

namespace HubSim {

struct GcdAllocation {
  UINT64              Base;
  UINT64              Length;
  EFI_GCD_MEMORY_TYPE Type;
  UINT64              Attributes;
};

struct HubPlatform::Internals {
  Internals(HubPlatform &Owner, HostEnv::Environment &Env, const Profile &Settings)
      : Owner(Owner), Env(Env), Settings(Settings) {}

  HubPlatform          &Owner;
  HostEnv::Environment &Env;
  Profile               Settings;

  // Services (HubServices.cpp)
  std::map<UINTN, PcdValue>      Pcds;
  std::map<PcdExKey, PcdValue>   PcdsEx;
  PCD_PROTOCOL                   PcdProtocol{};
  EFI_PCD_PROTOCOL               EfiPcdProtocol{};
  std::vector<UINT64>            HobStorage;  // 8-byte aligned HOB list
  std::vector<UINT8>             HobBytes;    // the same bytes, for inspection
  EFI_DXE_SERVICES               DxeServices{};
  std::vector<GcdAllocation>     GcdAllocations;
  EFI_S3_SAVE_STATE_PROTOCOL     S3SaveState{};
  EFI_SMM_COMMUNICATION_PROTOCOL SmmCommunication{};
  std::vector<UINT8>             SmmCommBuffer;
  QUOR_DEBUG_PRINT_PROTOCOL      DebugPrint{};
  QUOR_IDS_HOOK_EXT_PROTOCOL     IdsHookExt{};

  struct Installed {
    EFI_HANDLE      Handle;
    const EFI_GUID *Guid;
    VOID           *Interface;
  };
  std::vector<Installed>  InstalledProtocols;
  std::vector<EFI_GUID>   InstalledTables;
  std::vector<EFI_EVENT>  Watchers;

  // Chipset (HubChipset.cpp)
  std::map<UINT32, UINT32> SmnRegisters;
  UINT32                   SmuResponse = 1;
  std::deque<UINT32>       SmuQueue;
  size_t                   SmuResponseReads = 0;
  std::map<UINT8, UINT8>   StuckAoac;
  std::string              Uart;

  // Records
  std::vector<HubEvent>        Events;
  std::vector<BootScriptEntry> BootScript;
  std::vector<PcdSetRecord>    PcdSets;
  std::vector<PcdMismatch>     PcdMismatches;
  std::vector<DebugLine>       DebugLog;
  std::vector<SmmMessage>      SmmMessages;
  std::vector<GcdOperation>    GcdOperations;
  std::vector<UINT32>          TestPoints;
  std::vector<UINT32>          IdsHookCalls;

  void Event(const std::string &Name, std::vector<EventField> Fields = {});

  // Installation steps, in the order the constructor runs them.
  void InstallServices();
  void InstallChipset();
  void WatchDriverProtocols();
  void Uninstall();
  void CaptureDataBlock();
  std::vector<UINT8> DataBlockAsBuilt;
  void AddHandler(HostEnv::AccessSpace Space, UINT64 Base, UINT64 Length, HostEnv::RegisterHandler Handler);
  std::shared_ptr<int> AliveToken = std::make_shared<int>(0);

  EFI_HANDLE InstallProtocol(const EFI_GUID &Guid, VOID *Interface, EFI_HANDLE Handle = nullptr);
};

// Builds the HOB list the profile describes: PHIT, GUID HOBs, end.
std::vector<UINT8> BuildHobList(const Profile &Settings);

}  // namespace HubSim
