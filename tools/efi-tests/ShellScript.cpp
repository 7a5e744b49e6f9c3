#include "ShellScript.h"

#include <Library/PrintLib.h>
#include <Library/UefiLib.h>
#include <uefi/Protocol/SimpleFileSystem.h>

namespace {

// Closes a file handle when it goes out of scope.
class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  ~FileHandle() {
    if (File_ != nullptr) {
      File_->Close(File_);
    }
  }
  EFI_FILE_PROTOCOL **Out() { return &File_; }
  EFI_FILE_PROTOCOL *operator->() const { return File_; }
  explicit operator bool() const { return File_ != nullptr; }

 private:
  EFI_FILE_PROTOCOL *File_ = nullptr;
};

EFI_STATUS OpenOwnVolume(EFI_HANDLE ImageHandle, FileHandle &Root) {
  EFI_LOADED_IMAGE_PROTOCOL *Image = nullptr;
  EFI_STATUS Status =
      gBS->HandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **>(&Image));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume = nullptr;
  Status = gBS->HandleProtocol(Image->DeviceHandle, &gEfiSimpleFileSystemProtocolGuid,
                               reinterpret_cast<VOID **>(&Volume));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return Volume->OpenVolume(Volume, Root.Out());
}

bool IsHexDigit(UINT32 C) { return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'F') || (C >= 'a' && C <= 'f'); }

// Finds the first line of the form "<hex>: ..." in the shell's UTF-16 output.
bool FindHandleNumber(const CHAR16 *Text, UINTN Length, CHAR8 *Number, UINTN NumberSize) {
  bool LineStart = true;
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (LineStart) {
      UINTN End = Index;
      while (End < Length && IsHexDigit(Text[End])) {
        ++End;
      }
      if (End > Index && End < Length && Text[End] == u':' && End - Index < NumberSize) {
        for (UINTN Digit = Index; Digit < End; ++Digit) {
          Number[Digit - Index] = static_cast<CHAR8>(Text[Digit]);
        }
        Number[End - Index] = '\0';
        return true;
      }
    }
    LineStart = Text[Index] == u'\n';
  }
  return false;
}

}  // namespace

void WriteUnloadScript(EFI_HANDLE ImageHandle, TestReporter &Report) {
  FileHandle Root;
  if (!Report.CheckStatus(OpenOwnVolume(ImageHandle, Root), EFI_SUCCESS, "shell.open-volume")) {
    return;
  }
  FileHandle Dump;
  CHAR16 DumpName[] = u"dh.txt";
  if (!Report.CheckStatus(Root->Open(Root.operator->(), Dump.Out(), DumpName, EFI_FILE_MODE_READ, 0), EFI_SUCCESS,
                          "shell.open-dh-output")) {
    return;
  }
  CHAR16 Text[1024];
  UINTN Size = sizeof(Text) - sizeof(CHAR16);
  if (!Report.CheckStatus(Dump->Read(Dump.operator->(), &Size, Text), EFI_SUCCESS, "shell.read-dh-output")) {
    return;
  }
  CHAR8 Number[16];
  if (!Report.Check(FindHandleNumber(Text, Size / sizeof(CHAR16), Number, sizeof(Number)),
                    "shell.driver-handle-found")) {
    return;
  }
  CHAR8 Script[64];
  UINTN ScriptLength = AsciiSPrint(Script, sizeof(Script), "unload -n %a\r\n", Number);
  FileHandle Output;
  CHAR16 ScriptName[] = u"unload.nsh";
  if (!Report.CheckStatus(Root->Open(Root.operator->(), Output.Out(), ScriptName,
                                     EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0),
                          EFI_SUCCESS, "shell.create-unload-script")) {
    return;
  }
  Report.CheckStatus(Output->Write(Output.operator->(), &ScriptLength, Script), EFI_SUCCESS,
                     "shell.write-unload-script");
  Report.Info("driver handle %a", Number);
}
