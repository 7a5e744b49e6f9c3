// The configuration store as a connection manager drives it: SetData and
// GetData of every data type, size probes, the own RSN/WPA element, the PMK,
// key records and the EAP configuration protocol.
#pragma once
#include "EfiTest.h"

void RunConfigSuite(TestReporter &Report);
