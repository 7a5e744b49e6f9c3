#include "QuorHeapBufferLib.h"

#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>

#include "Protocol/QuorHeapBuffer.h"
#include "XchDebug.h"
#include "XchHob.h"

namespace {
constexpr UINT32 AssertProtocolInstall = 0x80225;
constexpr UINT32 AssertRuntimeAllocation = 0x80134;
constexpr UINT32 AssertBootAllocation = 0x80137;

constinit QUOR_HEAP_BUFFER_PROTOCOL mHeapInterface = {QUOR_HEAP_BUFFER_PROTOCOL_REVISION, {nullptr, nullptr}};
constinit LIST_ENTRY *mListHead = nullptr;
constinit EFI_HANDLE mHeapHandle = nullptr;  // where this image published mHeapInterface

QUOR_HEAP_NODE *NodeOf(LIST_ENTRY *Link) { return reinterpret_cast<QUOR_HEAP_NODE *>(Link); }
UINT8 *BufferOf(QUOR_HEAP_NODE *Node) { return reinterpret_cast<UINT8 *>(Node + 1); }

QUOR_HEAP_NODE *FindNode(UINT32 Handle) {
  if (mListHead == nullptr) {
    return nullptr;
  }
  for (LIST_ENTRY *Link = GetFirstNode(mListHead); !IsNull(mListHead, Link); Link = GetNextNode(mListHead, Link)) {
    QUOR_HEAP_NODE *Node = NodeOf(Link);
    if (Node->Signature == QUOR_HEAP_SIGNATURE && Node->Handle == Handle) {
      return Node;
    }
  }
  return nullptr;
}

// Buffers that must outlive boot services come from runtime memory.
QUOR_HEAP_NODE *AllocateNode(UINT32 Size, UINT8 Persistence) {
  bool Runtime = Persistence == QUOR_HEAP_PERSIST_RUNTIME;
  VOID *Memory = AllocatePoolOfType(Runtime ? EfiRuntimeServicesData : EfiBootServicesData,
                                    sizeof(QUOR_HEAP_NODE) + static_cast<UINTN>(Size));
  if (Memory == nullptr) {
    XchAssertStop(Runtime ? AssertRuntimeAllocation : AssertBootAllocation);
  }
  return static_cast<QUOR_HEAP_NODE *>(Memory);
}

// The common part of allocation and migration: a new node at the tail with
// its header filled and its buffer zeroed.
UINTN AppendNode(UINT32 Size, UINT32 Handle, UINT8 Persistence, QUOR_HEAP_NODE **Created) {
  *Created = nullptr;
  if (Persistence < 1 || Persistence > QUOR_HEAP_PERSIST_RUNTIME) {
    return QUOR_HEAP_BAD_PERSISTENCE;
  }
  if (mListHead == nullptr) {
    return QUOR_HEAP_OUT_OF_MEMORY;  // no list to hang the node from
  }
  if (FindNode(Handle) != nullptr) {
    return QUOR_HEAP_DUPLICATE;
  }
  QUOR_HEAP_NODE *Node = AllocateNode(Size, Persistence);
  if (Node == nullptr) {
    return QUOR_HEAP_OUT_OF_MEMORY;
  }
  Node->Signature = QUOR_HEAP_SIGNATURE;
  Node->Handle = Handle;
  Node->BufferSize = Size;
  Node->Persistence = Persistence;
  Node->Valid = 1;
  Node->Reserved[0] = Node->Reserved[1] = 0;
  InsertTailList(mListHead, &Node->Link);
  ZeroMem(BufferOf(Node), Size);
  *Created = Node;
  return QUOR_HEAP_SUCCESS;
}

// The header of the HEAP block that starts Data, if the block holds all of
// the buffer its header declares.
const QUOR_HEAP_HOB_HEADER *CompleteHeapHob(const UINT8 *Data, UINTN DataSize) {
  if (DataSize < sizeof(QUOR_HEAP_HOB_HEADER)) {
    return nullptr;
  }
  const auto *Header = reinterpret_cast<const QUOR_HEAP_HOB_HEADER *>(Data);
  if (Header->Signature != QUOR_HEAP_SIGNATURE || Header->Valid != 1 ||
      Header->BufferSize > DataSize - sizeof(QUOR_HEAP_HOB_HEADER)) {
    return nullptr;
  }
  return Header;
}

// A block whose handle is taken or whose persistence is out of range is not
// taken over, as an allocation of it would be refused.
VOID MigrateHeapHob(const QUOR_HEAP_HOB_HEADER *Header) {
  QUOR_HEAP_NODE *Node = nullptr;
  if (AppendNode(Header->BufferSize, Header->Handle, Header->Persistence, &Node) != QUOR_HEAP_SUCCESS) {
    return;
  }
  // The node keeps the block's header as it was handed over.
  CopyMem(&Node->Signature, Header, sizeof(QUOR_HEAP_HOB_HEADER));
  CopyMem(BufferOf(Node), Header + 1, Header->BufferSize);
}

VOID UnlinkAndFree(QUOR_HEAP_NODE *Node) {
  RemoveEntryList(&Node->Link);
  FreePool(Node);
}

VOID FreeOwnList() {
  while (!IsListEmpty(&mHeapInterface.ListHead)) {
    UnlinkAndFree(NodeOf(GetFirstNode(&mHeapInterface.ListHead)));
  }
}
}  // namespace

UINTN QuorHeapFind(UINT32 Handle, UINT8 **Buffer, UINT32 *Size) {
  QUOR_HEAP_NODE *Node = FindNode(Handle);
  if (Buffer != nullptr) {
    *Buffer = Node != nullptr ? BufferOf(Node) : nullptr;
  }
  if (Size != nullptr) {
    *Size = Node != nullptr ? Node->BufferSize : 0;
  }
  return Node != nullptr ? QUOR_HEAP_SUCCESS : QUOR_HEAP_NOT_FOUND;
}

UINTN QuorHeapFree(UINT32 Handle) {
  QUOR_HEAP_NODE *Node = FindNode(Handle);
  if (Node == nullptr) {
    return QUOR_HEAP_NOT_FOUND;
  }
  UnlinkAndFree(Node);
  return QUOR_HEAP_SUCCESS;
}

UINTN QuorHeapAllocate(UINT32 Size, UINT32 Handle, UINT8 Persistence, UINT8 **Buffer) {
  QUOR_HEAP_NODE *Node = nullptr;
  UINTN Status = AppendNode(Size, Handle, Persistence, &Node);
  if (Buffer != nullptr) {
    *Buffer = Node != nullptr ? BufferOf(Node) : nullptr;
  }
  return Status;
}

VOID QuorHeapMigrateHobs() {
  for (const EFI_HOB_GUID_TYPE *Hob = XchFindFirstGuidHob(&gQuorHeapHobGuid); Hob != nullptr;
       Hob = XchFindNextGuidHob(XchNextHob(Hob), &gQuorHeapHobGuid)) {
    if (const QUOR_HEAP_HOB_HEADER *Header = CompleteHeapHob(XchGuidHobData(Hob), XchGuidHobDataSize(Hob))) {
      MigrateHeapHob(Header);
    }
  }
}

EFI_STATUS QuorHeapBufferLibConstructor() {
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gQuorHeapBufferProtocolGuid, nullptr, &Interface);
  if (!EFI_ERROR(Status) && Interface != nullptr) {
    mListHead = &static_cast<QUOR_HEAP_BUFFER_PROTOCOL *>(Interface)->ListHead;
    return EFI_SUCCESS;
  }
  mListHead = InitializeListHead(&mHeapInterface.ListHead);
  QuorHeapMigrateHobs();
  EFI_HANDLE Handle = nullptr;
  Status = gBS->InstallProtocolInterface(&Handle, &gQuorHeapBufferProtocolGuid, EFI_NATIVE_INTERFACE,
                                         &mHeapInterface);
  if (EFI_ERROR(Status)) {
    XchAssertStop(AssertProtocolInstall);
  } else {
    mHeapHandle = Handle;
  }
  return Status;
}

VOID QuorHeapBufferLibDestructor() {
  if (mListHead != &mHeapInterface.ListHead) {
    return;  // the list belongs to the module that published it
  }
  if (mHeapHandle != nullptr) {
    if (EFI_ERROR(gBS->UninstallProtocolInterface(mHeapHandle, &gQuorHeapBufferProtocolGuid, &mHeapInterface))) {
      return;  // still in use: the list must stay
    }
    mHeapHandle = nullptr;
  }
  // Nobody can reach these nodes any more.
  FreeOwnList();
  mListHead = nullptr;
}

LIST_ENTRY *QuorHeapBufferListHead() { return mListHead; }

// The interface may still be installed (and its list in use); the
// constructor starts it afresh when it installs it again.
VOID QuorHeapBufferResetState() {
  mListHead = nullptr;
  mHeapHandle = nullptr;
}
