// Lets the UEFI shell unload the driver by its shell handle number: reads the
// output of "dh -p SupplicantServiceBinding > dh.txt" from the application's
// own volume and writes "unload -n <handle>" into unload.nsh beside it.
#pragma once
#include "EfiTest.h"

void WriteUnloadScript(EFI_HANDLE ImageHandle, TestReporter &Report);
