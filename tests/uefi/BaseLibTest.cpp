// Lists, strings, memory helpers and component-name lookup of the support
// library.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/UefiLib.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Node {
  LIST_ENTRY Link;
  int        Value;
};

std::vector<int> Walk(const LIST_ENTRY *Head) {
  std::vector<int> Values;
  for (LIST_ENTRY *Entry = GetFirstNode(Head); !IsNull(Head, Entry); Entry = GetNextNode(Head, Entry)) {
    Values.push_back(reinterpret_cast<Node *>(Entry)->Value);
  }
  return Values;
}

TEST(BaseLib, ListInsertRemoveKeepsOrder) {
  LIST_ENTRY Head;
  InitializeListHead(&Head);
  EXPECT_TRUE(IsListEmpty(&Head));
  Node A{{}, 1}, B{{}, 2}, C{{}, 3};
  InsertTailList(&Head, &A.Link);
  InsertTailList(&Head, &B.Link);
  InsertHeadList(&Head, &C.Link);
  EXPECT_EQ(Walk(&Head), (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(RemoveEntryList(&A.Link), &B.Link);
  EXPECT_EQ(Walk(&Head), (std::vector<int>{3, 2}));
  RemoveEntryList(&C.Link);
  RemoveEntryList(&B.Link);
  EXPECT_TRUE(IsListEmpty(&Head));
  // A removed entry links to itself.
  EXPECT_EQ(B.Link.ForwardLink, &B.Link);
}

TEST(BaseLib, StringsAndMemory) {
  EXPECT_EQ(AsciiStrLen(""), 0u);
  EXPECT_EQ(StrLen(u"Norv"), 4u);
  EXPECT_LT(AsciiStrCmp("abc", "abd"), 0);
  EXPECT_EQ(StrCmp(u"same", u"same"), 0);
  EXPECT_GT(StrCmp(u"b", u"a"), 0);

  UINT8 Buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  CopyMem(Buffer + 2, Buffer, 4);  // overlapping move
  EXPECT_EQ(CompareMem(Buffer, (const UINT8[]){1, 2, 1, 2, 3, 4, 7, 8}, 8), 0);
  EXPECT_GT(CompareMem((const UINT8[]){0x80}, (const UINT8[]){0x7F}, 1), 0);  // unsigned comparison
  SecureZeroMem(Buffer, sizeof(Buffer));
  EXPECT_EQ(CompareMem(Buffer, (const UINT8[8]){}, 8), 0);
}

constexpr EFI_UNICODE_STRING_TABLE Names[] = {
    {"eng;en", u"English name"},
    {"fra;fr-FR", u"Nom"},
    {nullptr, nullptr},
};

TEST(UefiLib, ComponentNameLookupIso639AndRfc4646) {
  CHAR16 *Name = nullptr;
  EXPECT_EQ(LookupUnicodeString2("eng", "engfra", Names, &Name, TRUE), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(Name), u"English name");
  EXPECT_EQ(LookupUnicodeString2("fra", "engfra", Names, &Name, TRUE), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(Name), u"Nom");
  EXPECT_EQ(LookupUnicodeString2("en", "en;fr-FR", Names, &Name, FALSE), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(Name), u"English name");
  EXPECT_EQ(LookupUnicodeString2("fr-fr", "en;fr-FR", Names, &Name, FALSE), EFI_SUCCESS);  // tags ignore case
  // The language must be in the protocol's list, in the protocol's form.
  EXPECT_EQ(LookupUnicodeString2("en", "eng", Names, &Name, TRUE), EFI_UNSUPPORTED);
  EXPECT_EQ(LookupUnicodeString2("eng", "en", Names, &Name, FALSE), EFI_UNSUPPORTED);
  EXPECT_EQ(LookupUnicodeString2("fra", "eng", Names, &Name, TRUE), EFI_UNSUPPORTED);
  EXPECT_EQ(LookupUnicodeString2("e", "en", Names, &Name, FALSE), EFI_UNSUPPORTED);  // no prefix matches
  EXPECT_EQ(LookupUnicodeString2(nullptr, "eng", Names, &Name, TRUE), EFI_INVALID_PARAMETER);
  EXPECT_EQ(LookupUnicodeString2("eng", "eng", Names, nullptr, TRUE), EFI_INVALID_PARAMETER);
  EXPECT_EQ(LookupUnicodeString2("eng", "eng", nullptr, &Name, TRUE), EFI_UNSUPPORTED);
}

}  // namespace
