// Heap buffers: tagged memory blocks shared by every module through the heap
// buffer protocol, whose interface holds the head of their list. The earlier
// boot phase hands its buffers over in HEAP hand-off blocks.
#pragma once
#include <uefi/Base.h>

constexpr UINT32 QUOR_HEAP_SIGNATURE = 0x50414548;  // "HEAP"

// GUID of the HEAP hand-off blocks.
inline constinit EFI_GUID gQuorHeapHobGuid = {0xD97D161A, 0x16CD, 0x4ADA, {0xB9, 0xF6, 0xAE, 0xC3, 0xF9, 0xFC, 0xCC, 0x2C}};

// Node of the list; the buffer handed out follows the header.
typedef struct {
  LIST_ENTRY Link;
  UINT32     Signature;  // QUOR_HEAP_SIGNATURE
  UINT32     Handle;
  UINT32     BufferSize;
  UINT8      Persistence;  // 1-8
  UINT8      Valid;        // 1
  UINT8      Reserved[2];
} QUOR_HEAP_NODE;
static_assert(sizeof(QUOR_HEAP_NODE) == 32);

// Header of a HEAP hand-off block's data (the same 16 bytes as a node's
// header after its links); the buffer follows it.
typedef struct {
  UINT32 Signature;
  UINT32 Handle;
  UINT32 BufferSize;
  UINT8  Persistence;
  UINT8  Valid;  // only blocks with 1 here are taken over
  UINT8  Reserved[2];
} QUOR_HEAP_HOB_HEADER;
static_assert(sizeof(QUOR_HEAP_HOB_HEADER) == 16);

// Results of the heap routines.
constexpr UINTN QUOR_HEAP_SUCCESS         = 0;
constexpr UINTN QUOR_HEAP_BAD_PERSISTENCE = 1;
constexpr UINTN QUOR_HEAP_NOT_FOUND       = 2;
constexpr UINTN QUOR_HEAP_DUPLICATE       = 2;
constexpr UINTN QUOR_HEAP_OUT_OF_MEMORY   = 7;

constexpr UINT8 QUOR_HEAP_PERSIST_RUNTIME = 8;  // the only persistence kept past boot services

// Constructor 5: adopt the list of the installed heap buffer protocol, or
// start one (seeded from the HEAP hand-off blocks) and publish it.
EFI_STATUS QuorHeapBufferLibConstructor();

// Destructor (the entry failed and the image goes away): withdraws the heap
// buffer protocol this image published and frees the buffers on its list.
// A list adopted from another module stays as it is.
VOID QuorHeapBufferLibDestructor();

// Head of the shared list (NULL before the constructor).
LIST_ENTRY *QuorHeapBufferListHead();

// The first buffer with Handle: QUOR_HEAP_SUCCESS with its address and size,
// else QUOR_HEAP_NOT_FOUND with NULL and 0. Either output may be NULL.
UINTN QuorHeapFind(UINT32 Handle, UINT8 **Buffer, UINT32 *Size);

// A new zero-filled buffer of Size bytes under Handle, appended to the list.
// QUOR_HEAP_BAD_PERSISTENCE for a persistence outside 1-8,
// QUOR_HEAP_DUPLICATE when Handle exists (nothing is allocated),
// QUOR_HEAP_OUT_OF_MEMORY when the pool has no room.
UINTN QuorHeapAllocate(UINT32 Size, UINT32 Handle, UINT8 Persistence, UINT8 **Buffer);

// Unlinks and frees the first buffer with Handle: QUOR_HEAP_SUCCESS, or
// QUOR_HEAP_NOT_FOUND.
UINTN QuorHeapFree(UINT32 Handle);

// Takes over the buffers of the HEAP hand-off blocks (run by the constructor
// when it starts the list). A block whose data is shorter than its header
// says is left alone.
VOID QuorHeapMigrateHobs();

VOID QuorHeapBufferResetState();
