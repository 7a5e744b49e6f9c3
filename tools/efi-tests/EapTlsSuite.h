// WPA2-Enterprise inside the firmware: the test application plays the access
// point (the EAP authenticator, the built-in EAP-TLS server with the embedded
// test certificates, then the key handshakes) against a child of the loaded
// driver, through its protocols only. One connection per 802.1X AKM, each
// with EAP-TLS fragments both ways; then a re-authentication against a
// server certificate of another CA, which the station must refuse without
// losing its keys. Checks "eap-tls.<case>.*" and "handshake.eap-tls-<case>.*".
// A driver that does not list the 802.1X AKMs, or EAP-TLS among its EAP
// methods (the personal-only image), gets an INFO line and no checks.
#pragma once
#include "EfiTest.h"

void RunEapTlsSuite(TestReporter &Report);
