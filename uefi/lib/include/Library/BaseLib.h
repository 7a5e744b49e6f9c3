// Doubly linked lists and small string helpers.
#pragma once
#include <uefi/Base.h>

LIST_ENTRY *InitializeListHead(LIST_ENTRY *ListHead);
LIST_ENTRY *InsertHeadList(LIST_ENTRY *ListHead, LIST_ENTRY *Entry);
LIST_ENTRY *InsertTailList(LIST_ENTRY *ListHead, LIST_ENTRY *Entry);
// Unlinks Entry and returns the entry that followed it.
LIST_ENTRY *RemoveEntryList(LIST_ENTRY *Entry);
LIST_ENTRY *GetFirstNode(const LIST_ENTRY *List);
LIST_ENTRY *GetNextNode(const LIST_ENTRY *List, const LIST_ENTRY *Node);
BOOLEAN     IsListEmpty(const LIST_ENTRY *ListHead);
BOOLEAN     IsNull(const LIST_ENTRY *List, const LIST_ENTRY *Node);

UINTN AsciiStrLen(const CHAR8 *String);
UINTN StrLen(const CHAR16 *String);
INTN  AsciiStrCmp(const CHAR8 *First, const CHAR8 *Second);
INTN  StrCmp(const CHAR16 *First, const CHAR16 *Second);
