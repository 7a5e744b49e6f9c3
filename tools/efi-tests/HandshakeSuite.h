// A child completes WPA2-PSK (and PSK-SHA256 with management-frame
// protection) 4-way and group-key handshakes against the authenticator
// compiled into the test application; the keys read back must be the
// authenticator's, and replayed or forged frames change nothing.
#pragma once
#include "EfiTest.h"

void RunHandshakeSuite(TestReporter &Report);

class TestChild;

// The same handshakes for a WPA3-SAE child that has completed SAE: the
// built-in authenticator takes Pmk, the PMK of that exchange (checks named
// "handshake.NAME.*").
void RunSaeHandshakes(TestReporter &Report, const TestChild &Child, const UINT8 *StaMac, const UINT8 *ApAddress,
                      const UINT8 *Pmk, const CHAR8 *Name = "wpa3-sae-mfp");

// The same handshakes for an 802.1X child (AKM 1 or 5, no MFP) after
// EAP-Success: the access point takes Pmk, the first half of the EAP
// method's MSK (checks named "handshake.NAME.*").
void RunEapHandshakes(TestReporter &Report, const TestChild &Child, UINT8 AkmType, const UINT8 *StaMac,
                      const UINT8 *ApAddress, const UINT8 *Pmk, const CHAR8 *Name);
