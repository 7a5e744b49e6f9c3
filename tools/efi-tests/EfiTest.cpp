#include "EfiTest.h"

#include <Library/PrintLib.h>

namespace {
constexpr UINTN LineChars = 256;

bool BytesEqual(const void *A, const void *B, UINTN Length) {
  const auto *X = static_cast<const UINT8 *>(A);
  const auto *Y = static_cast<const UINT8 *>(B);
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (X[Index] != Y[Index]) {
      return false;
    }
  }
  return true;
}
}  // namespace

void TestReporter::Emit(const CHAR8 *Line) { Sink_(Line, Context_); }

bool TestReporter::Check(bool Ok, const CHAR8 *Name) {
  CHAR8 Line[LineChars];
  AsciiSPrint(Line, sizeof(Line), "%a %a", Ok ? "PASS" : "FAIL", Name);
  Emit(Line);
  Ok ? ++Passed_ : ++Failed_;
  return Ok;
}

bool TestReporter::CheckStatus(EFI_STATUS Actual, EFI_STATUS Expected, const CHAR8 *Name) {
  if (Actual == Expected) {
    return Check(true, Name);
  }
  CHAR8 Line[LineChars];
  AsciiSPrint(Line, sizeof(Line), "FAIL %a: status %r, expected %r", Name, Actual, Expected);
  Emit(Line);
  ++Failed_;
  return false;
}

bool TestReporter::CheckValue(UINT64 Actual, UINT64 Expected, const CHAR8 *Name) {
  if (Actual == Expected) {
    return Check(true, Name);
  }
  CHAR8 Line[LineChars];
  AsciiSPrint(Line, sizeof(Line), "FAIL %a: 0x%lx, expected 0x%lx", Name, Actual, Expected);
  Emit(Line);
  ++Failed_;
  return false;
}

bool TestReporter::CheckBytes(const void *Actual, const void *Expected, UINTN Length, const CHAR8 *Name) {
  if (BytesEqual(Actual, Expected, Length)) {
    return Check(true, Name);
  }
  CHAR8 Line[LineChars];
  const auto *A = static_cast<const UINT8 *>(Actual);
  const auto *E = static_cast<const UINT8 *>(Expected);
  UINTN First = 0;
  while (A[First] == E[First]) {
    ++First;
  }
  AsciiSPrint(Line, sizeof(Line), "FAIL %a: byte %u is 0x%02x, expected 0x%02x", Name, (UINT32)First, A[First],
              E[First]);
  Emit(Line);
  ++Failed_;
  return false;
}

void TestReporter::Info(const CHAR8 *Format, ...) {
  CHAR8 Text[LineChars];
  va_list Marker;
  va_start(Marker, Format);
  AsciiVSPrint(Text, sizeof(Text), Format, Marker);
  va_end(Marker);
  CHAR8 Line[LineChars + 8];
  AsciiSPrint(Line, sizeof(Line), "INFO %a", Text);
  Emit(Line);
}

void TestReporter::Summary() {
  CHAR8 Line[LineChars];
  AsciiSPrint(Line, sizeof(Line), "SUMMARY passed=%u failed=%u", (UINT32)Passed_, (UINT32)Failed_);
  Emit(Line);
}
