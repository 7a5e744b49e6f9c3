// The readable report hub-sim prints after a run.
#pragma once

#include "HubRun.h"

#include <ostream>

namespace HubSimTool {

void WriteSummary(std::ostream &Out, HubRun &Run);
// For a run stopped at its access bound: where, and the last accesses.
void WriteStuckReport(std::ostream &Out, HubRun &Run, size_t LastAccesses = 8);

}  // namespace HubSimTool
