// Stands in for the host platform back end while none is built: the support
// library's assertion stop is the only hardware function these tests reach.
#include <Platform/Hardware.h>

#include <cstdlib>

VOID CpuDeadLoop() { std::abort(); }
