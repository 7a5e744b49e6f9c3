// EAP-TLS inside the firmware: a child of the enterprise driver runs whole
// EAP-TLS exchanges against an EAP-TLS server compiled into the test
// application (mbedtls's TLS 1.2 server with its own EAP framing, written
// from RFC 3748 / RFC 5216), then the 4-way and group handshakes against the
// authenticator with the PMK the server derived. Also: a server from another
// CA is refused, and EAP-Success before the handshake finished gives no key.
// Only the enterprise driver runs it; checks are named "eap-tls.*".
#pragma once
#include "EfiTest.h"

void RunEapTlsSuite(TestReporter &Report);
