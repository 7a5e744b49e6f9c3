// Processor and chipset access. The firmware back end implements these with
// real instructions; the host back end routes them to the simulated chipset.
// Drivers use nothing else to reach hardware.
#pragma once
#include <uefi/Base.h>

UINT8  IoRead8(UINTN Port);
UINT16 IoRead16(UINTN Port);
UINT32 IoRead32(UINTN Port);
UINT8  IoWrite8(UINTN Port, UINT8 Value);
UINT16 IoWrite16(UINTN Port, UINT16 Value);
UINT32 IoWrite32(UINTN Port, UINT32 Value);

UINT8  MmioRead8(UINTN Address);
UINT16 MmioRead16(UINTN Address);
UINT32 MmioRead32(UINTN Address);
UINT64 MmioRead64(UINTN Address);
UINT8  MmioWrite8(UINTN Address, UINT8 Value);
UINT16 MmioWrite16(UINTN Address, UINT16 Value);
UINT32 MmioWrite32(UINTN Address, UINT32 Value);
UINT64 MmioWrite64(UINTN Address, UINT64 Value);

UINT64 AsmReadMsr64(UINT32 Index);
UINT64 AsmWriteMsr64(UINT32 Index, UINT64 Value);

// CPUID; any output pointer may be NULL. Returns Index.
UINT32 AsmCpuid(UINT32 Index, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx);
UINT32 AsmCpuidEx(UINT32 Index, UINT32 SubIndex, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx);
// CPUID with EBX and RSI as inputs and RSI as output: the channel through
// which a debugger or simulator answers a firmware assertion stop. *Si is
// read before and written after the instruction. Returns Index.
UINT32 AsmCpuidWithSi(UINT32 Index, UINT32 EbxIn, UINTN *Si);

UINT64 AsmReadTsc();
VOID   CpuPause();
// Stops the processor for good (assertion failure in firmware).
[[noreturn]] VOID CpuDeadLoop();

// Hardware random numbers. FALSE when the instruction is missing or did not
// deliver a value after a bounded number of retries.
BOOLEAN AsmRdRand64(UINT64 *Value);
BOOLEAN AsmRdSeed64(UINT64 *Value);
