// The configuration byte buffer: 26 bytes that switch the debug facilities
// of the driver (test points to port 0x80 or SMN, the assertion stop). It is
// zero, and everything it gates is off, unless both PCD protocols exist.
#pragma once
#include <uefi/Base.h>

constexpr UINTN QUOR_CFG_BUF_SIZE = 26;

// Byte positions.
constexpr UINTN QUOR_CFG_TP_PORT80_ENABLE = 0;   // test points to port 0x80
constexpr UINTN QUOR_CFG_TP_PORT80_WIDTH  = 1;   // 1 byte, 2 word, otherwise dword
constexpr UINTN QUOR_CFG_ASSERT_ENABLE    = 4;   // assertion stop
constexpr UINTN QUOR_CFG_TP_SMN_ENABLE    = 5;   // test points to SMN
constexpr UINTN QUOR_CFG_TP_SMN_GATE      = 6;   // PCD 634
constexpr UINTN QUOR_CFG_TP_SMN_MODE      = 7;   // PCD 575; 15 means "use the fallback"
constexpr UINTN QUOR_CFG_TP_SMN_FALLBACK  = 8;
constexpr UINTN QUOR_CFG_TP_SMN_ADDRESS   = 11;  // PCD 637, 4 bytes

const UINT8 *QuorCfgPcdBuf();

// Constructor: zero the buffer; fill it when both PCD protocols are found.
EFI_STATUS QuorCfgPcdBufLibDxeConstructor();

VOID QuorCfgPcdBufResetState();
