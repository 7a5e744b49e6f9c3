// The EFIAPI members of EFI_RUNTIME_SERVICES: a settable clock and a
// recorded ResetSystem; variables and capsules are not modelled.
#include "Core.h"

namespace HostEnv {
namespace {

Core &C() { return Core::Get(); }

bool IsLeapYear(UINT16 Year) { return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0; }

UINT8 DaysInMonth(UINT16 Year, UINT8 Month) {
  static constexpr UINT8 Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return Month == 2 && IsLeapYear(Year) ? 29 : Days[Month - 1];
}

constexpr INT16 kUnspecifiedTimezone = 0x07FF;

}  // namespace

bool IsValidTime(const EFI_TIME &Time) {
  return Time.Year >= 1900 && Time.Year <= 9999 && Time.Month >= 1 && Time.Month <= 12 && Time.Day >= 1 &&
         Time.Day <= DaysInMonth(Time.Year, Time.Month) && Time.Hour <= 23 && Time.Minute <= 59 &&
         Time.Second <= 59 && Time.Nanosecond <= 999999999 &&
         (Time.TimeZone == kUnspecifiedTimezone || (Time.TimeZone >= -1440 && Time.TimeZone <= 1440)) &&
         (Time.Daylight & ~0x03) == 0;
}

namespace {

EFI_STATUS EFIAPI GetTime(EFI_TIME *Time, EFI_TIME_CAPABILITIES *Capabilities) {
  if (Time == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Time = C().Time;
  if (Capabilities != nullptr) {
    *Capabilities = {1, 50000000, FALSE};  // 1 Hz, 50 ppm: what a PC real-time clock reports
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetTime(EFI_TIME *Time) {
  if (Time == nullptr || !IsValidTime(*Time)) {
    return EFI_INVALID_PARAMETER;
  }
  C().Time = *Time;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetWakeupTime(BOOLEAN *, BOOLEAN *, EFI_TIME *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetWakeupTime(BOOLEAN, EFI_TIME *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetVirtualAddressMap(UINTN, UINTN, UINT32, EFI_MEMORY_DESCRIPTOR *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI ConvertPointer(UINTN, VOID **) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI GetVariable(CHAR16 *, EFI_GUID *, UINT32 *, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI GetNextVariableName(UINTN *, CHAR16 *, EFI_GUID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetVariable(CHAR16 *, EFI_GUID *, UINT32, UINTN, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI GetNextHighMonotonicCount(UINT32 *) { return EFI_UNSUPPORTED; }

// Firmware never returns from here; the host records the request and
// returns, so a tool can end its run and a test can check what was asked.
VOID EFIAPI ResetSystem(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize, VOID *ResetData) {
  ResetRequest Request{ResetType, ResetStatus, {}};
  if (ResetData != nullptr && DataSize != 0) {
    const auto *Bytes = static_cast<const UINT8 *>(ResetData);
    Request.Data.assign(Bytes, Bytes + DataSize);
  }
  C().LastReset = std::move(Request);
}

EFI_STATUS EFIAPI UpdateCapsule(EFI_CAPSULE_HEADER **, UINTN, EFI_PHYSICAL_ADDRESS) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI QueryCapsuleCapabilities(EFI_CAPSULE_HEADER **, UINTN, UINT64 *, EFI_RESET_TYPE *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI QueryVariableInfo(UINT32, UINT64 *, UINT64 *, UINT64 *) { return EFI_UNSUPPORTED; }

}  // namespace

void FillRuntimeServices(EFI_RUNTIME_SERVICES &Table) {
  Table.GetTime                   = GetTime;
  Table.SetTime                   = SetTime;
  Table.GetWakeupTime             = GetWakeupTime;
  Table.SetWakeupTime             = SetWakeupTime;
  Table.SetVirtualAddressMap      = SetVirtualAddressMap;
  Table.ConvertPointer            = ConvertPointer;
  Table.GetVariable               = GetVariable;
  Table.GetNextVariableName       = GetNextVariableName;
  Table.SetVariable               = SetVariable;
  Table.GetNextHighMonotonicCount = GetNextHighMonotonicCount;
  Table.ResetSystem               = ResetSystem;
  Table.UpdateCapsule             = UpdateCapsule;
  Table.QueryCapsuleCapabilities  = QueryCapsuleCapabilities;
  Table.QueryVariableInfo         = QueryVariableInfo;
}

}  // namespace HostEnv
