#include "XchTraceMemory.h"

#include <Platform/Hardware.h>

#include "XchDebug.h"
#include "XchNonPciMmio.h"
#include "XchPcd.h"
#include "XchRegisterAccess.h"

namespace {
constexpr UINT32 KeepMiddleBits = 0x000FFFFE;  // bits 1-19
constexpr UINT32 BaseAndEnable = 0xFFF00001;
constexpr UINT32 Enable = 1;

EFI_STATUS ClearTraceMemory() {
  if (MmioRead32(XCH_TRACE_MEMORY_REGISTER) == 0) {
    return EFI_SUCCESS;
  }
  XchDebugPrint(XCH_DBG_TEST_POINT, "Clear Tracememorybaseaddr and Tracememoryen!\n");
  XchMmioModify(XCH_TRACE_MEMORY_REGISTER, XCH_WIDTH_32, KeepMiddleBits, 0);
  return EFI_SUCCESS;
}

EFI_STATUS EnableTraceMemory() {
  XchDebugPrint(XCH_DBG_TEST_POINT, "ProgramXchiLa1MTraceMemoryEn is started!\n");
  UINT64 Base = 0;
  UINT64 Length = XCH_TRACE_MEMORY_SIZE;
  UINT8 Attribute = XCH_TRACE_MEMORY_ATTRIBUTE;
  EFI_STATUS Status = XchFabricAllocateMmio(&Base, &Length, 0, XchMmioTarget(0, 0), &Attribute);
  if (EFI_ERROR(Status)) {
    XchDebugPrint(XCH_DBG_TEST_POINT, "[ProgramXchiLa1MTraceMemoryEn] Cannot allocate MMIO!!!\n");
    return Status;
  }
  XchPcdSet32(XCH_PCD_TRACE_MEMORY_BASE, static_cast<UINT32>(Base));
  XchDebugPrint(XCH_DBG_TEST_POINT, "iLa1MTraceMemoryBase=0x%x\n", static_cast<UINT32>(Base));
  XchMmioModify(XCH_TRACE_MEMORY_REGISTER, XCH_WIDTH_32, KeepMiddleBits,
                (static_cast<UINT32>(Base) & BaseAndEnable) | Enable);
  XchDebugPrint(XCH_DBG_TEST_POINT, "Tracememorybaseaddr & Tracememoryen is programmed!\n");
  return EFI_SUCCESS;
}
}  // namespace

EFI_STATUS XchProgramTraceMemory() {
  return XchPcdGetBool(XCH_PCD_TRACE_MEMORY_ENABLE) ? EnableTraceMemory() : ClearTraceMemory();
}
