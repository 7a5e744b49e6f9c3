// Checks of the supplicant driver frame as a connection manager sees it:
// service binding, children, protocols on child handles, component names.
#pragma once
#include "EfiTest.h"

// The driver must be loaded.
void RunFrameSuite(TestReporter &Report);
// The driver must be loaded, and this must run last: a refused unload while
// another agent holds a child open, then one child left alive for the unload
// that follows.
void RunUnloadGuardSuite(TestReporter &Report);
// The driver must have been unloaded: nothing of it is left.
void RunUnloadedSuite(TestReporter &Report);
