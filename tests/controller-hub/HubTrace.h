// Trace shapes shared by the controller-hub suites.
#pragma once

#include <algorithm>
#include <vector>

#include "HubTest.h"

// The assertion stop as it shows in the trace: 0xDEAD to port 0xE0, the code
// to port 0x80, the debugger's CPUID (which says to return).
inline std::vector<Access> AssertStopAccesses(UINT32 Code) {
  return {IoW(2, 0xE0, 0xDEAD), IoW(4, 0x80, Code),
          Access{HostEnv::TraceKind::Cpuid, HostEnv::TraceOp::Read, 4, 0xBACCD00B, 0}};
}

// Whether Run occurs in Trace as consecutive accesses.
inline bool ContainsRun(const std::vector<Access> &Trace, const std::vector<Access> &Run) {
  return std::search(Trace.begin(), Trace.end(), Run.begin(), Run.end()) != Trace.end();
}

inline bool StoppedWith(const std::vector<Access> &Trace, UINT32 Code) {
  return ContainsRun(Trace, AssertStopAccesses(Code));
}
