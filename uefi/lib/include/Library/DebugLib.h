// Assertions for programming errors. A failed assertion prints
// "ASSERT [<module>] <file>(<line>): <expression>\n" on the standard-error
// console and stops: an endless loop in firmware, an abort on the host.
#pragma once
#include <uefi/Base.h>

[[noreturn]] VOID DebugAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description);
// Name shown between the brackets; each driver sets its own at entry.
VOID DebugAssertSetModuleName(const CHAR8 *ModuleName);

#define ASSERT(Expression)                              \
  do {                                                  \
    if (!(Expression)) {                                \
      DebugAssert(__FILE__, __LINE__, #Expression);     \
    }                                                   \
  } while (false)

// Asserts that a pointer is not NULL, naming it as "<name> != ((void *) 0)".
#define ASSERT_NOT_NULL(Pointer)                                            \
  do {                                                                      \
    if ((Pointer) == nullptr) {                                             \
      DebugAssert(__FILE__, __LINE__, #Pointer " != ((void *) 0)");         \
    }                                                                       \
  } while (false)

// Prints "\nASSERT_EFI_ERROR (Status = %r)\n" and asserts "!EFI_ERROR (Status)".
VOID DebugAssertEfiError(const CHAR8 *FileName, UINTN LineNumber, EFI_STATUS Status);
#define ASSERT_EFI_ERROR(StatusParameter)                                 \
  do {                                                                    \
    if (EFI_ERROR(StatusParameter)) {                                     \
      DebugAssertEfiError(__FILE__, __LINE__, (StatusParameter));         \
    }                                                                     \
  } while (false)

// Containing record with signature check: recovers the record that embeds the
// field at Offset, asserting "CR has Bad Signature" (with the caller's file
// and line) when the signature does not match.
// The record's 32-bit signature field is named Signature, as in every
// UEFI driver record.
VOID *ContainingRecordChecked(const VOID *FieldAddress, UINTN FieldOffset, UINTN SignatureOffset,
                              UINT32 Signature, const CHAR8 *FileName, UINTN LineNumber);
#define CR(Record, TYPE, Field, TestSignature)                                                   \
  (static_cast<TYPE *>(ContainingRecordChecked((Record), offsetof(TYPE, Field),                  \
                                               offsetof(TYPE, Signature), (TestSignature),       \
                                               __FILE__, __LINE__)))
