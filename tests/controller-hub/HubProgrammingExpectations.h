// The writes of each Env and Late task for a given data block, typed step by
// step from the documentation of the hub programming (tables included, entry
// by entry). Each adds to an ExpectedWrites built before the task runs.
#pragma once

#include "ExpectedWrites.h"

// Env task 1; BlockAddress is where the block lives (its low 32 bits are
// stored).
void ExpectEnvAcpiMmioDefaults(ExpectedWrites &E, const UINT8 *Block, UINT64 BlockAddress);
// Env task 2, the AOAC/UART programming (its step 11) included.
void ExpectEnvHubProgramming(ExpectedWrites &E, const UINT8 *Block);
void ExpectAoacUart(ExpectedWrites &E, const UINT8 *Block);
void ExpectEnvDevice14Fn3(ExpectedWrites &E, const UINT8 *Block);
void ExpectEnvDevice14Fn6(ExpectedWrites &E, const UINT8 *Block);
void ExpectEnvSmnHostBridge(ExpectedWrites &E, const UINT8 *Block);
void ExpectEnvAbOptions(ExpectedWrites &E, const UINT8 *Block);
// Env task 8 on a platform whose SMU answers at once (no poll sees 0).
void ExpectSmuRequest(ExpectedWrites &E);

// Late task 2 up to and including the reset request, and from there on.
void ExpectLateHubProgrammingUpToReset(ExpectedWrites &E, const UINT8 *Block);
void ExpectLateHubProgrammingAfterReset(ExpectedWrites &E, const UINT8 *Block);
void ExpectLateSmnClears(ExpectedWrites &E);
void ExpectLatePortWrite(ExpectedWrites &E, const UINT8 *Block);

// Whole phases: the Env task table after its opening test point 0xAF06, and
// the Late task table after 0xAF08, on a platform whose SMU answers at once.
void ExpectEnvPhase(ExpectedWrites &E, const UINT8 *BlockAsBuilt, UINT64 BlockAddress);
void ExpectLatePhase(ExpectedWrites &E, const UINT8 *BlockBeforeLate);

// The writes a boot made inside one phase: after the opening test point,
// up to the debug line that ends the phase (or the end of the trace).
std::vector<Access> PhaseWrites(const std::vector<HostEnv::TraceEntry> &Trace,
                                const std::vector<HubSim::HubEvent> &Events, UINT32 OpeningTestPoint,
                                const std::string &ExitLine);

// The UART banner as the documentation spells it.
inline constexpr char kUartBanner[] = " --- Init Xch Uart --- ";
