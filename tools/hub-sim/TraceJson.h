// The JSON Lines trace of hub-sim: every hardware access (MMIO, I/O, MSR,
// CPUID) and every platform event, in the order they happened, one JSON
// object per line with a running "seq".
#pragma once

#include <HostEnv/SimChipset.h>
#include <HubSim/HubPlatform.h>

#include <nlohmann/json.hpp>

#include <ostream>
#include <vector>

namespace HubSimTool {

// The lines in order (time-stamp counter and random-number reads are not
// part of the format and are left out).
std::vector<nlohmann::ordered_json> TraceLines(const std::vector<HostEnv::TraceEntry> &Trace,
                                       const std::vector<HubSim::HubEvent> &Events);
void WriteTrace(std::ostream &Out, const std::vector<HostEnv::TraceEntry> &Trace,
                const std::vector<HubSim::HubEvent> &Events);

}  // namespace HubSimTool
