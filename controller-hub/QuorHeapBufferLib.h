// Heap buffers: tagged memory blocks shared by every module through the heap
// buffer protocol, whose interface holds the head of their list.
#pragma once
#include <uefi/Base.h>

// Constructor 5: adopt the list of the installed heap buffer protocol, or
// start one (seeded from the HEAP hand-off blocks) and publish it.
EFI_STATUS QuorHeapBufferLibConstructor();

// Head of the shared list (NULL before the constructor).
LIST_ENTRY *QuorHeapBufferListHead();

VOID QuorHeapBufferResetState();
