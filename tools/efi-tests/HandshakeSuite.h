// A child completes WPA2-PSK (and PSK-SHA256 with management-frame
// protection) 4-way and group-key handshakes against the authenticator
// compiled into the test application; the keys read back must be the
// authenticator's, and replayed or forged frames change nothing.
#pragma once
#include "EfiTest.h"

void RunHandshakeSuite(TestReporter &Report);
