// The list of supplicant test suites, shared by the UEFI test application
// and its run against the host environment.
#pragma once
#include "EfiTest.h"

enum class SuitePhase { DriverLoaded, DriverUnloaded };

void RunSupplicantSuites(TestReporter &Report, SuitePhase Phase);
