// The TLS suite of the UEFI test application: full TLS 1.2 handshakes
// between sup_mbedtls's client and server in memory, inside OVMF and on the
// host alike.
#pragma once
#include "EfiTest.h"

// Checks named "tls.<case>.<what>".
void RunTlsSuite(TestReporter &Report);
