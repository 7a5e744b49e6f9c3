#include <Library/BaseLib.h>
#include <Library/DebugLib.h>

LIST_ENTRY *InitializeListHead(LIST_ENTRY *ListHead) {
  ListHead->ForwardLink = ListHead;
  ListHead->BackLink = ListHead;
  return ListHead;
}

LIST_ENTRY *InsertHeadList(LIST_ENTRY *ListHead, LIST_ENTRY *Entry) {
  Entry->ForwardLink = ListHead->ForwardLink;
  Entry->BackLink = ListHead;
  Entry->ForwardLink->BackLink = Entry;
  ListHead->ForwardLink = Entry;
  return ListHead;
}

LIST_ENTRY *InsertTailList(LIST_ENTRY *ListHead, LIST_ENTRY *Entry) {
  Entry->ForwardLink = ListHead;
  Entry->BackLink = ListHead->BackLink;
  Entry->BackLink->ForwardLink = Entry;
  ListHead->BackLink = Entry;
  return ListHead;
}

LIST_ENTRY *RemoveEntryList(LIST_ENTRY *Entry) {
  ASSERT(Entry->ForwardLink != Entry);
  LIST_ENTRY *Next = Entry->ForwardLink;
  Next->BackLink = Entry->BackLink;
  Entry->BackLink->ForwardLink = Next;
  // A removed entry links to itself, so a second removal is detectable.
  Entry->ForwardLink = Entry;
  Entry->BackLink = Entry;
  return Next;
}

LIST_ENTRY *GetFirstNode(const LIST_ENTRY *List) { return List->ForwardLink; }

LIST_ENTRY *GetNextNode(const LIST_ENTRY *, const LIST_ENTRY *Node) { return Node->ForwardLink; }

BOOLEAN IsListEmpty(const LIST_ENTRY *ListHead) { return ListHead->ForwardLink == ListHead; }

BOOLEAN IsNull(const LIST_ENTRY *List, const LIST_ENTRY *Node) { return List == Node; }

UINTN AsciiStrLen(const CHAR8 *String) {
  UINTN Length = 0;
  while (String[Length] != '\0') {
    ++Length;
  }
  return Length;
}

UINTN StrLen(const CHAR16 *String) {
  UINTN Length = 0;
  while (String[Length] != u'\0') {
    ++Length;
  }
  return Length;
}

INTN AsciiStrCmp(const CHAR8 *First, const CHAR8 *Second) {
  while (*First != '\0' && *First == *Second) {
    ++First;
    ++Second;
  }
  return (INTN)(UINT8)*First - (INTN)(UINT8)*Second;
}

INTN StrCmp(const CHAR16 *First, const CHAR16 *Second) {
  while (*First != u'\0' && *First == *Second) {
    ++First;
    ++Second;
  }
  return (INTN)*First - (INTN)*Second;
}
