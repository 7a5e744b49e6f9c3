// A minimal check reporter for the UEFI test applications. The same suites
// run inside OVMF and against the host environment; both print one line per
// check ("PASS <name>" / "FAIL <name>: <detail>") and a closing
// "SUMMARY passed=<n> failed=<m>" line that the test runners parse.
#pragma once
#include <uefi/Uefi.h>

class TestReporter {
 public:
  // Sink receives each finished line without its newline.
  using LineSink = void (*)(const CHAR8 *Line, void *Context);
  TestReporter(LineSink Sink, void *Context) : Sink_(Sink), Context_(Context) {}

  bool Check(bool Ok, const CHAR8 *Name);
  bool CheckStatus(EFI_STATUS Actual, EFI_STATUS Expected, const CHAR8 *Name);
  bool CheckBytes(const void *Actual, const void *Expected, UINTN Length, const CHAR8 *Name);
  bool CheckValue(UINT64 Actual, UINT64 Expected, const CHAR8 *Name);
  // Free-form line (prefixed "INFO ").
  void Info(const CHAR8 *Format, ...);
  void Summary();

  UINTN Passed() const { return Passed_; }
  UINTN Failed() const { return Failed_; }

 private:
  void Emit(const CHAR8 *Line);
  LineSink Sink_;
  void    *Context_;
  UINTN    Passed_ = 0;
  UINTN    Failed_ = 0;
};
