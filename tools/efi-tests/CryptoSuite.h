// The crypto known-answer suite, shared by the UEFI test application (inside
// OVMF) and its host run.
#pragma once
#include "EfiTest.h"

// One check per vector, named "crypto.<primitive>.<vector>"; when the
// processor offers SHA or AES instructions the whole suite runs a second time
// on the portable code, with "/portable" appended to every name.
void RunCryptoSuite(TestReporter &Report);
