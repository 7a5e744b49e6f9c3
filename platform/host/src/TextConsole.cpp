#include <HostEnv/TextConsole.h>
#include <HostEnv/Text.h>

#include <utility>

namespace HostEnv {
namespace {

constexpr UINTN kColumns = 80;
constexpr UINTN kRows    = 25;

EFI_STATUS EFIAPI Reset(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String) {
  if (This == nullptr || String == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  TextConsole::FromProtocol(This).Append(String);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI TestString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *String) {
  return String == nullptr ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}

EFI_STATUS EFIAPI QueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN ModeNumber, UINTN *Columns, UINTN *Rows) {
  if (Columns == nullptr || Rows == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (ModeNumber != 0) {
    return EFI_UNSUPPORTED;
  }
  *Columns = kColumns;
  *Rows    = kRows;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN ModeNumber) {
  return ModeNumber == 0 ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Attribute) {
  This->Mode->Attribute = static_cast<INT32>(Attribute & 0x7F);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ClearScreen(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This) {
  This->Mode->CursorColumn = 0;
  This->Mode->CursorRow    = 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Column, UINTN Row) {
  if (Column >= kColumns || Row >= kRows) {
    return EFI_UNSUPPORTED;
  }
  This->Mode->CursorColumn = static_cast<INT32>(Column);
  This->Mode->CursorRow    = static_cast<INT32>(Row);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI EnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, BOOLEAN Visible) {
  This->Mode->CursorVisible = Visible;
  return EFI_SUCCESS;
}

}  // namespace

TextConsole::TextConsole(std::FILE *EchoStream, bool Echo)
    : Instance_{{Reset, OutputString, TestString, QueryMode, SetMode, SetAttribute, ClearScreen, SetCursorPosition,
                 EnableCursor, &Mode_},
                this},
      Mode_{1, 0, 0x07, 0, 0, TRUE},
      EchoStream_(EchoStream),
      Echo_(Echo) {}

TextConsole &TextConsole::FromProtocol(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This) {
  return *reinterpret_cast<Instance *>(This)->Owner;
}

void TextConsole::Append(const CHAR16 *String) {
  std::string Utf8 = Utf16ToUtf8(String);
  Text_ += Utf8;
  if (Echo_ && EchoStream_ != nullptr) {
    std::fwrite(Utf8.data(), 1, Utf8.size(), EchoStream_);
    std::fflush(EchoStream_);
  }
}

std::string TextConsole::TakeText() { return std::exchange(Text_, {}); }

}  // namespace HostEnv
