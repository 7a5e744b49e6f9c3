#include "QuorHeapBufferLib.h"

#include <Library/BaseLib.h>
#include <Library/UefiLib.h>

#include "Protocol/QuorHeapBuffer.h"
#include "XchDebug.h"

namespace {
constexpr UINT32 AssertProtocolInstall = 0x80225;

constinit QUOR_HEAP_BUFFER_PROTOCOL mHeapInterface = {QUOR_HEAP_BUFFER_PROTOCOL_REVISION, {nullptr, nullptr}};
constinit LIST_ENTRY *mListHead = nullptr;

// Copies the buffers the earlier boot phase handed over in HEAP HOBs into the
// list. (Heap buffer migration arrives with the heap buffer services.)
VOID MigrateHeapHobs() {}
}  // namespace

EFI_STATUS QuorHeapBufferLibConstructor() {
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gQuorHeapBufferProtocolGuid, nullptr, &Interface);
  if (!EFI_ERROR(Status) && Interface != nullptr) {
    mListHead = &static_cast<QUOR_HEAP_BUFFER_PROTOCOL *>(Interface)->ListHead;
    return EFI_SUCCESS;
  }
  mListHead = InitializeListHead(&mHeapInterface.ListHead);
  MigrateHeapHobs();
  EFI_HANDLE Handle = nullptr;
  Status = gBS->InstallProtocolInterface(&Handle, &gQuorHeapBufferProtocolGuid, EFI_NATIVE_INTERFACE,
                                         &mHeapInterface);
  if (EFI_ERROR(Status)) {
    XchAssertStop(AssertProtocolInstall);
  }
  return Status;
}

LIST_ENTRY *QuorHeapBufferListHead() { return mListHead; }

VOID QuorHeapBufferResetState() {
  mHeapInterface = {QUOR_HEAP_BUFFER_PROTOCOL_REVISION, {nullptr, nullptr}};
  mListHead = nullptr;
}
