#include <uefi/Base.h>

namespace {
constexpr const CHAR8 *ErrorNames[] = {
    "Success",          "Load Error",        "Invalid Parameter",  "Unsupported",
    "Bad Buffer Size",  "Buffer Too Small",  "Not Ready",          "Device Error",
    "Write Protected",  "Out of Resources",  "Volume Corrupt",     "Volume Full",
    "No Media",         "Media changed",     "Not Found",          "Access Denied",
    "No Response",      "No mapping",        "Time out",           "Not started",
    "Already started",  "Aborted",           "ICMP Error",         "TFTP Error",
    "Protocol Error",   "Incompatible Version", "Security Violation", "CRC Error",
    "End of Media",     "Reserved (29)",     "Reserved (30)",      "End of File",
    "Invalid Language", "Compromised Data",  "IP Address Conflict", "HTTP Error",
};

constexpr const CHAR8 *WarningNames[] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
    "Warning File System",
    "Warning Reset Required",
};
}  // namespace

const CHAR8 *EfiStatusName(EFI_STATUS Status) {
  if (EFI_ERROR(Status)) {
    UINTN Code = Status & ~MAX_BIT;
    if (Code != 0 && Code < sizeof(ErrorNames) / sizeof(ErrorNames[0])) {
      return ErrorNames[Code];
    }
    return nullptr;
  }
  if (Status < sizeof(WarningNames) / sizeof(WarningNames[0])) {
    return WarningNames[Status];
  }
  return nullptr;
}
