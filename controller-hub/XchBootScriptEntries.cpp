#include "XchBootScriptEntries.h"

#include <uefi/Protocol/S3SaveState.h>

#include "QuorBootScriptForwarder.h"
#include "QuorS3SaveLib.h"
#include "XchPcd.h"

EFI_STATUS XchBootScriptEntriesConstructor() {
  EFI_S3_SAVE_STATE_PROTOCOL *S3SaveState = QuorS3SaveState();
  if (S3SaveState == nullptr) {
    return EFI_NOT_FOUND;
  }
  for (const XCH_BOOT_SCRIPT_MEM_RMW &Entry : XchBootScriptMemEntries) {
    UINT64 Data = Entry.Data;
    UINT64 Mask = Entry.Mask;
    S3SaveState->Write(S3SaveState, EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE, EfiBootScriptWidthUint32, Entry.Address,
                       &Data, &Mask);
  }
  UINT8 Value = XCH_BOOT_SCRIPT_PORT_ENTRY_VALUE;
  return S3SaveState->Write(S3SaveState, EFI_BOOT_SCRIPT_IO_WRITE_OPCODE, EfiBootScriptWidthUint8,
                            static_cast<UINT64>(XchPcdGet16(QUOR_BOOT_SCRIPT_PCD_PORT)), static_cast<UINTN>(1),
                            &Value);
}
