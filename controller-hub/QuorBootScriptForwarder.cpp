#include "QuorBootScriptForwarder.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>
#include <uefi/Protocol/SmmCommunication.h>

#include "Protocol/QuorSmmBootScript.h"
#include "QuorS3SaveLib.h"
#include "XchBytes.h"
#include "XchPcd.h"

namespace {
constexpr UINT32 SystemTableRevision2 = 0x20000;
constexpr UINT64 ForwardMessageLength = 8;

// Record buffer fields.
constexpr UINTN RecordOpCode = 0;
constexpr UINTN RecordWidth = 8;
constexpr UINTN RecordAddress = 16;
constexpr UINTN RecordCount = 24;
constexpr UINTN RecordData = 32;

struct FORWARDER_STATE {
  UINT8                          *CommBuffer;
  UINT8                          *RecordBuffer;
  UINT8                          *DataBuffer;
  EFI_SMM_COMMUNICATION_PROTOCOL *SmmCommunication;
  BOOLEAN                         Ready;
  BOOLEAN                         Once;
  EFI_EVENT                       ReadinessEvent;
  VOID                           *ReadinessRegistration;
  EFI_EVENT                       PortEvent;  // until ready-to-boot closes it
};
constinit FORWARDER_STATE mForwarder = {};

constinit EFI_S3_SAVE_STATE_PROTOCOL mForwarderProtocol = {QuorBootScriptForwarderWrite, nullptr, nullptr, nullptr};

// Write opcodes that carry a count and a data buffer.
constexpr bool CarriesData(UINTN OpCode) {
  return OpCode == EFI_BOOT_SCRIPT_IO_WRITE_OPCODE || OpCode == EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE ||
         OpCode == EFI_BOOT_SCRIPT_PCI_CONFIG_WRITE_OPCODE;
}

// Bytes a boot-script write of Count units at Width covers (FILL repeats one).
UINT64 DataBytes(UINTN Width, UINTN Count) {
  UINT64 Unit = 1ULL << (Width & 3);
  if (Width >= EfiBootScriptWidthFillUint8 && Width <= EfiBootScriptWidthFillUint64) {
    return Unit;
  }
  UINT64 Bytes = 0;
  return __builtin_mul_overflow(Unit, static_cast<UINT64>(Count), &Bytes) ? ~0ULL : Bytes;
}

VOID EFIAPI ReadinessRoutine(EFI_EVENT Event, VOID *) {
  if (mForwarder.Ready) {
    return;
  }
  VOID *Marker = nullptr;
  VOID *Communication = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gQuorBootScriptSmmReadyProtocolGuid, nullptr, &Marker)) &&
      !EFI_ERROR(gBS->LocateProtocol(&gEfiSmmCommunicationProtocolGuid, nullptr, &Communication)) &&
      Communication != nullptr) {
    mForwarder.SmmCommunication = static_cast<EFI_SMM_COMMUNICATION_PROTOCOL *>(Communication);
    mForwarder.Ready = TRUE;
  }
  if (mForwarder.Ready && Event != nullptr) {
    gBS->CloseEvent(Event);
    if (Event == mForwarder.ReadinessEvent) {
      mForwarder.ReadinessEvent = nullptr;
    }
  }
}

VOID EFIAPI FinalRoutine(EFI_EVENT Event, VOID *) {
  mForwarder.Ready = FALSE;
  QuorBootScriptForwarderWrite(&mForwarderProtocol, QUOR_BOOT_SCRIPT_FINAL_OPCODE);
  gBS->CloseEvent(Event);
}

VOID ArmOnce() {
  mForwarder.Once = TRUE;
  if (!EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, ReadinessRoutine, nullptr,
                                  &mForwarder.ReadinessEvent))) {
    if (EFI_ERROR(gBS->RegisterProtocolNotify(&gQuorBootScriptSmmReadyProtocolGuid, mForwarder.ReadinessEvent,
                                              &mForwarder.ReadinessRegistration))) {
      gBS->CloseEvent(mForwarder.ReadinessEvent);
      mForwarder.ReadinessEvent = nullptr;
    }
  } else {
    mForwarder.ReadinessEvent = nullptr;
  }
  if (mForwarder.ReadinessEvent != nullptr) {
    ReadinessRoutine(mForwarder.ReadinessEvent, nullptr);
  }
  EFI_EVENT FinalEvent = nullptr;
  gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, FinalRoutine, nullptr, &gEfiEventReadyToBootGuid,
                     &FinalEvent);
}

// Ready-to-boot at TPL_NOTIFY: arm the forwarder, then mark the boot-script
// port through whichever path is live.
VOID EFIAPI PortNotification(EFI_EVENT Event, VOID *) {
  QuorS3LocateSaveState();
  if (!mForwarder.Once) {
    ArmOnce();
  }
  const EFI_S3_SAVE_STATE_PROTOCOL *Writer = mForwarder.Ready ? &mForwarderProtocol : QuorS3SaveState();
  if (Writer != nullptr) {
    UINT8 Value = QUOR_BOOT_SCRIPT_PORT_VALUE;
    Writer->Write(Writer, EFI_BOOT_SCRIPT_IO_WRITE_OPCODE, EfiBootScriptWidthUint8,
                  static_cast<UINT64>(XchPcdGet16(QUOR_BOOT_SCRIPT_PCD_PORT)), static_cast<UINTN>(1), &Value);
  }
  gBS->CloseEvent(Event);
  if (Event == mForwarder.PortEvent) {
    mForwarder.PortEvent = nullptr;
  }
}

VOID FreeIfPresent(UINT8 *&Buffer) {
  if (Buffer != nullptr) {
    FreePool(Buffer);
    Buffer = nullptr;
  }
}
}  // namespace

EFI_STATUS QuorBootScriptForwarderBuffersConstructor() {
  mForwarder.CommBuffer =
      static_cast<UINT8 *>(AllocateZeroPoolOfType(EfiRuntimeServicesData, QUOR_FORWARD_COMM_BUFFER_SIZE));
  if (mForwarder.CommBuffer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  if (mForwarder.RecordBuffer != nullptr) {
    return EFI_SUCCESS;
  }
  mForwarder.RecordBuffer =
      static_cast<UINT8 *>(AllocateZeroPoolOfType(EfiRuntimeServicesData, QUOR_FORWARD_RECORD_BUFFER_SIZE));
  if (mForwarder.RecordBuffer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  mForwarder.DataBuffer =
      static_cast<UINT8 *>(AllocateZeroPoolOfType(EfiRuntimeServicesData, QUOR_FORWARD_DATA_BUFFER_SIZE));
  if (mForwarder.DataBuffer == nullptr) {
    // A record buffer without its data buffer can never be sent.
    FreeIfPresent(mForwarder.RecordBuffer);
    return EFI_OUT_OF_RESOURCES;
  }
  return EFI_SUCCESS;
}

EFI_STATUS QuorBootScriptForwarderConstructor() {
  if (gST->Hdr.Revision < SystemTableRevision2) {
    return EFI_UNSUPPORTED;
  }
  EFI_EVENT Event = nullptr;
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, PortNotification, nullptr,
                                         &gEfiEventReadyToBootGuid, &Event);
  if (!EFI_ERROR(Status)) {
    mForwarder.PortEvent = Event;
  }
  return Status;
}

VOID QuorBootScriptForwarderDestructor() {
  // The notification would call into an image that is gone.
  if (mForwarder.PortEvent != nullptr) {
    gBS->CloseEvent(mForwarder.PortEvent);
    mForwarder.PortEvent = nullptr;
  }
  FreeIfPresent(mForwarder.CommBuffer);
  FreeIfPresent(mForwarder.RecordBuffer);
  FreeIfPresent(mForwarder.DataBuffer);
}

EFI_STATUS EFIAPI QuorBootScriptForwarderWrite(const EFI_S3_SAVE_STATE_PROTOCOL *, UINTN OpCode, ...) {
  if (mForwarder.CommBuffer == nullptr || mForwarder.RecordBuffer == nullptr || mForwarder.DataBuffer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINT8 *Record = mForwarder.RecordBuffer;
  ZeroMem(Record, QUOR_FORWARD_RECORD_BUFFER_SIZE);
  XchWriteField<UINT16>(Record, RecordOpCode, static_cast<UINT16>(OpCode));

  // The final record carries no arguments at all; its fields stay 0.
  if (OpCode != QUOR_BOOT_SCRIPT_FINAL_OPCODE) {
    EFI_VA_LIST Marker;
    EFI_VA_START(Marker, OpCode);
    // The width enumeration arrives promoted to int.
    UINTN Width = EFI_VA_ARG(Marker, UINT32);
    UINT64 Address = EFI_VA_ARG(Marker, UINT64);
    XchWriteField<UINT32>(Record, RecordWidth, static_cast<UINT32>(Width));
    XchWriteField<UINT64>(Record, RecordAddress, Address);
    if (CarriesData(OpCode)) {
      UINTN Count = EFI_VA_ARG(Marker, UINTN);
      const UINT8 *Buffer = EFI_VA_ARG(Marker, const UINT8 *);
      XchWriteField<UINT64>(Record, RecordCount, Count);
      // Only what the caller's buffer holds: a one-byte write gives one byte.
      ZeroMem(mForwarder.DataBuffer, QUOR_FORWARD_DATA_BUFFER_SIZE);
      UINT64 Bytes = DataBytes(Width, Count);
      if (Buffer != nullptr) {
        CopyMem(mForwarder.DataBuffer, Buffer,
                Bytes < QUOR_FORWARD_DATA_BUFFER_SIZE ? Bytes : QUOR_FORWARD_DATA_BUFFER_SIZE);
      }
      XchWriteField<UINT64>(Record, RecordData, reinterpret_cast<UINTN>(mForwarder.DataBuffer));
    }
    EFI_VA_END(Marker);
  }

  UINT8 *Comm = mForwarder.CommBuffer;
  ZeroMem(Comm, QUOR_FORWARD_COMM_BUFFER_SIZE);
  CopyMem(Comm, &gQuorBootScriptForwardSmmGuid, sizeof(EFI_GUID));
  XchWriteField<UINT64>(Comm, 16, ForwardMessageLength);
  XchWriteField<UINT64>(Comm, 24, reinterpret_cast<UINTN>(Record));
  if (mForwarder.SmmCommunication == nullptr) {
    return EFI_SUCCESS;
  }
  UINTN Size = QUOR_FORWARD_COMM_BUFFER_SIZE;
  return mForwarder.SmmCommunication->Communicate(mForwarder.SmmCommunication, Comm, &Size);
}

BOOLEAN QuorBootScriptForwarderReady() { return mForwarder.Ready; }

VOID QuorBootScriptForwarderResetState() { mForwarder = FORWARDER_STATE{}; }
