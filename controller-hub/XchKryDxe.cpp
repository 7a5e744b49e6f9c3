#include "XchKryDxe.h"

#include <Library/DebugLib.h>
#include <Library/UefiLib.h>

#include "QuorBootScriptForwarder.h"
#include "QuorCfgPcdBufLib.h"
#include "QuorHeapBufferLib.h"
#include "QuorS3SaveLib.h"
#include "XchBootScriptEntries.h"
#include "XchDataBlock.h"
#include "XchDebug.h"
#include "XchDebugChannels.h"
#include "XchDelay.h"
#include "XchDxeServices.h"
#include "XchHob.h"
#include "XchInit.h"
#include "XchPcd.h"
#include "XchPlatformName.h"

constexpr XCH_LIBRARY_CONSTRUCTOR XchLibraryConstructors[10] = {
    {"QuorS3SaveLib", QuorS3SaveLibConstructor},
    {"boot-script forwarder buffers", QuorBootScriptForwarderBuffersConstructor},
    {"HOB list", XchHobListConstructor},
    {"QuorHeapBufferLib", QuorHeapBufferLibConstructor},
    {"DXE services", XchDxeServicesConstructor},
    {"QuorCfgPcdBufLib", QuorCfgPcdBufLibDxeConstructor},
    {"debug channels", XchDebugChannelsConstructor},
    {"platform boot-script entries", XchBootScriptEntriesConstructor},
    {"platform-name check", XchPlatformNameCheck},
    {"boot-script port notification", QuorBootScriptForwarderConstructor},
};

namespace {
VOID RunLibraryConstructors(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiLibConstructor(ImageHandle, SystemTable);
  QuorS3LocateSaveState();
  // Their results are not examined: each library copes with what it lacks.
  for (const XCH_LIBRARY_CONSTRUCTOR &Constructor : XchLibraryConstructors) {
    Constructor.Construct();
  }
}

// The image is unloaded after a failed entry: nothing of it may stay
// reachable, so everything the constructors registered goes, latest first.
VOID RunLibraryDestructors() {
  QuorBootScriptForwarderDestructor();
  QuorHeapBufferLibDestructor();
  QuorS3SaveLibDestructor();
}
}  // namespace

extern "C" EFI_STATUS EFIAPI XchKryDxeModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DebugAssertSetModuleName("XchKryDxe");
  RunLibraryConstructors(ImageHandle, SystemTable);
  EFI_STATUS Status = XchInitEnv(ImageHandle, SystemTable);
  if (EFI_ERROR(Status)) {
    RunLibraryDestructors();
  }
  return Status;
}

VOID XchKryDxeResetModuleState() {
  QuorBootScriptForwarderResetState();
  QuorCfgPcdBufResetState();
  QuorHeapBufferResetState();
  QuorS3SaveLibResetState();
  XchDataBlockResetState();
  XchDebugResetState();
  XchDelayResetState();
  XchDxeServicesResetState();
  XchHobResetState();
  XchInitResetState();
  XchPcdResetState();
}
