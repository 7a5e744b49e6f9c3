// The readable report hub-sim prints after a run.
#pragma once

#include "HubRun.h"

#include <ostream>

namespace HubSimTool {

void WriteSummary(std::ostream &Out, HubRun &Run);

}  // namespace HubSimTool
