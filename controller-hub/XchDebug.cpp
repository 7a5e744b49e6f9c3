#include "XchDebug.h"

#include <Library/UefiLib.h>
#include <Platform/Hardware.h>

#include "Protocol/QuorDebugPrint.h"
#include "QuorCfgPcdBufLib.h"
#include "XchBytes.h"
#include "XchDelay.h"
#include "XchRegisterAccess.h"

namespace {
constinit QUOR_DEBUG_PRINT_PROTOCOL *mDebugPrint = nullptr;

constexpr UINT16 PostCodePort = 0x80;
constexpr UINT16 DeadPort = 0xE0;
constexpr UINT32 DebuggerCpuidLeaf = 0xBACCD00B;
constexpr UINT32 DebuggerAssertRequest = 2;
constexpr UINT64 AssertCodeTag = 0xFFFFDEAD00000000ULL;
constexpr UINT64 AssertStepMicroseconds = 2500000;
constexpr UINT8 SmnModeFallback = 15;

VOID WritePostCode(UINT32 Value, UINT8 WidthCode) {
  switch (WidthCode) {
    case 1:
      IoWrite8(PostCodePort, static_cast<UINT8>(Value));
      break;
    case 2:
      IoWrite16(PostCodePort, static_cast<UINT16>(Value));
      break;
    default:
      IoWrite32(PostCodePort, Value);
      break;
  }
}

UINT64 RotateLeft(UINT64 Value, unsigned Count) { return (Value << Count) | (Value >> (64 - Count)); }

// Shows the code on port 0x80 in a cycle a logic analyser can follow: six
// byte-rotations 2.5 s apart, then a 16-bit rotation, for ever.
[[noreturn]] VOID CycleCodeForever(UINT32 Code) {
  UINT64 Pattern = (static_cast<UINT64>(Code) | AssertCodeTag) << 16;
  for (;;) {
    for (int Step = 0; Step < 6; ++Step) {
      Pattern = RotateLeft(Pattern, 8);
      IoWrite32(PostCodePort, static_cast<UINT32>(Pattern));
      XchDelayMicroseconds(AssertStepMicroseconds);
    }
    Pattern = RotateLeft(Pattern, 16);
  }
}
}  // namespace

VOID XchTestPoint(UINT16 Code) {
  const UINT8 *Cfg = QuorCfgPcdBuf();
  UINT32 Value = Code | XCH_TEST_POINT_TAG;
  if (Cfg[QUOR_CFG_TP_PORT80_ENABLE] != 0) {
    WritePostCode(Value, Cfg[QUOR_CFG_TP_PORT80_WIDTH]);
    XchDebugPrint(XCH_DBG_TEST_POINT, "TIBRA_TP:[%x]\n", Value);
  }
  if (Cfg[QUOR_CFG_TP_SMN_ENABLE] != 0 && Cfg[QUOR_CFG_TP_SMN_GATE] != 0) {
    UINT8 Mode = Cfg[QUOR_CFG_TP_SMN_MODE];
    if (Mode == SmnModeFallback) {
      Mode = Cfg[QUOR_CFG_TP_SMN_FALLBACK];
    }
    if (Mode == 2 || Mode == 3) {
      XchSmnWrite(XchReadField<UINT32>(Cfg, QUOR_CFG_TP_SMN_ADDRESS), Value);
    }
  }
}

VOID XchAssertStop(UINT32 Code) {
  if (QuorCfgPcdBuf()[QUOR_CFG_ASSERT_ENABLE] == 0) {
    return;
  }
  IoWrite16(DeadPort, 0xDEAD);
  IoWrite32(PostCodePort, Code);
  UINTN Si = 0;
  AsmCpuidWithSi(DebuggerCpuidLeaf, DebuggerAssertRequest, &Si);
  if (Si != 0) {
    return;
  }
  CycleCodeForever(Code);
}

EFI_STATUS EFIAPI XchDebugPrint(UINT64 Level, const CHAR8 *Format, ...) {
  if (mDebugPrint == nullptr) {
    VOID *Interface = nullptr;
    EFI_STATUS Status = gBS->LocateProtocol(&gQuorDebugPrintProtocolGuid, nullptr, &Interface);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if (Interface == nullptr) {
      return EFI_NOT_FOUND;
    }
    mDebugPrint = static_cast<QUOR_DEBUG_PRINT_PROTOCOL *>(Interface);
  }
  EFI_VA_LIST Marker;
  EFI_VA_START(Marker, Format);
  mDebugPrint->DebugPrint(Level, Format, Marker);
  EFI_VA_END(Marker);
  return EFI_SUCCESS;
}

VOID XchDebugResetState() { mDebugPrint = nullptr; }
