// WPA3-Personal SAE between two children of the driver: commit and confirm
// bodies, key agreement, the PMK hand-over, the 4-way and group handshakes
// of one of them with the built-in access point using the SAE PMK, and the
// refusals a peer can provoke (reflection, other groups, bad scalars,
// altered confirms, a confirm before a peer commit).
#pragma once
#include "EfiTest.h"

void RunSaeSuite(TestReporter &Report);
