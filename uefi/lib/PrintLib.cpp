#include <Library/PrintLib.h>
#include <Library/UefiLib.h>

namespace {

// Collects output characters into a fixed buffer, always leaving room for
// the terminator; characters past the end are counted but dropped.
template <typename OutChar>
class Output {
 public:
  Output(OutChar *Buffer, UINTN Capacity) : Buffer_(Buffer), Capacity_(Capacity) {}
  void Put(UINT32 Character) {
    if (Buffer_ != nullptr && Length_ + 1 < Capacity_) {
      Buffer_[Length_] = static_cast<OutChar>(Character);
    }
    ++Length_;
  }
  void Repeat(UINT32 Character, INTN Count) {
    for (INTN Index = 0; Index < Count; ++Index) {
      Put(Character);
    }
  }
  UINTN Finish() {
    if (Buffer_ != nullptr && Capacity_ > 0) {
      UINTN End = Length_ < Capacity_ ? Length_ : Capacity_ - 1;
      Buffer_[End] = 0;
      return End;
    }
    return 0;
  }

 private:
  OutChar *Buffer_;
  UINTN    Capacity_;
  UINTN    Length_ = 0;
};

struct FieldFormat {
  bool  LeftAlign = false;
  bool  ZeroPad = false;
  INTN  Width = 0;
  INTN  Precision = -1;
};

template <typename OutChar, typename StrChar>
void PutString(Output<OutChar> &Out, const StrChar *String, const FieldFormat &Field) {
  static constexpr StrChar NullText[] = {'<', 'n', 'u', 'l', 'l', '>', 0};
  if (String == nullptr) {
    String = NullText;
  }
  INTN Length = 0;
  while (String[Length] != 0 && (Field.Precision < 0 || Length < Field.Precision)) {
    ++Length;
  }
  if (!Field.LeftAlign) {
    Out.Repeat(' ', Field.Width - Length);
  }
  for (INTN Index = 0; Index < Length; ++Index) {
    Out.Put(static_cast<UINT32>(String[Index]));
  }
  if (Field.LeftAlign) {
    Out.Repeat(' ', Field.Width - Length);
  }
}

template <typename OutChar>
void PutNumber(Output<OutChar> &Out, UINT64 Value, bool Negative, UINT32 Base, bool Upper,
               const FieldFormat &Field) {
  CHAR8 Digits[24];
  INTN  Count = 0;
  const CHAR8 *Alphabet = Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    Digits[Count++] = Alphabet[Value % Base];
    Value /= Base;
  } while (Value != 0);
  INTN Length = Count + (Negative ? 1 : 0);
  INTN Padding = Field.Width > Length ? Field.Width - Length : 0;
  if (!Field.LeftAlign && !Field.ZeroPad) {
    Out.Repeat(' ', Padding);
  }
  if (Negative) {
    Out.Put('-');
  }
  if (!Field.LeftAlign && Field.ZeroPad) {
    Out.Repeat('0', Padding);
  }
  while (Count > 0) {
    Out.Put(static_cast<UINT32>(Digits[--Count]));
  }
  if (Field.LeftAlign) {
    Out.Repeat(' ', Padding);
  }
}

template <typename OutChar>
void PutGuid(Output<OutChar> &Out, const EFI_GUID *Guid) {
  if (Guid == nullptr) {
    PutString(Out, "<null guid>", FieldFormat{});
    return;
  }
  FieldFormat Hex8{false, true, 8, -1};
  FieldFormat Hex4{false, true, 4, -1};
  FieldFormat Hex2{false, true, 2, -1};
  PutNumber(Out, Guid->Data1, false, 16, true, Hex8);
  Out.Put('-');
  PutNumber(Out, Guid->Data2, false, 16, true, Hex4);
  Out.Put('-');
  PutNumber(Out, Guid->Data3, false, 16, true, Hex4);
  Out.Put('-');
  for (int Index = 0; Index < 8; ++Index) {
    if (Index == 2) {
      Out.Put('-');
    }
    PutNumber(Out, Guid->Data4[Index], false, 16, true, Hex2);
  }
}

// Argument readers: the engine pulls each argument through Next<T>(). The
// two list forms differ on the host (System V va_list against the Microsoft
// x64 list of an EFIAPI variadic function) and must each be read with their
// own declared type.
class VaListArgs {
 public:
  explicit VaListArgs(va_list Marker) { va_copy(List_, Marker); }
  VaListArgs(const VaListArgs &) = delete;
  VaListArgs &operator=(const VaListArgs &) = delete;
  ~VaListArgs() { va_end(List_); }
  template <typename T>
  T Next() {
    return va_arg(List_, T);
  }

 private:
  va_list List_;
};

// The Microsoft x64 list is read by hand: every argument the engine takes
// (integers, pointers) sits in the low bytes of its own 8-byte slot. Reading
// it with va_arg as well would give two instantiations of the engine that
// differ only in the list's calling convention, which GCC's identical-code
// folding has been seen to merge.
class EfiVaListArgs {
 public:
  explicit EfiVaListArgs(EFI_VA_LIST Marker) : Slot_(reinterpret_cast<const UINT8 *>(Marker)) {}
  template <typename T>
  T Next() {
    static_assert(sizeof(T) <= sizeof(UINT64));
    T Value;
    __builtin_memcpy(&Value, Slot_, sizeof(T));
    Slot_ += sizeof(UINT64);
    return Value;
  }

 private:
  const UINT8 *Slot_;
};

// The one formatting engine behind every print routine. FmtChar is the
// character type of the format string, OutChar that of the output.
template <typename OutChar, typename FmtChar, typename Args>
UINTN FormatArgs(OutChar *Buffer, UINTN Capacity, const FmtChar *Format, Args &Marker) {
  Output<OutChar> Out(Buffer, Capacity);
  if (Format == nullptr) {
    return Out.Finish();
  }
  for (; *Format != 0; ++Format) {
    if (*Format != '%') {
      Out.Put(static_cast<UINT32>(*Format));
      continue;
    }
    FieldFormat Field;
    bool Long = false;
    ++Format;
    for (;; ++Format) {
      if (*Format == '-') {
        Field.LeftAlign = true;
      } else if (*Format == '0') {
        Field.ZeroPad = true;
      } else if (*Format == ' ' || *Format == '+' || *Format == ',') {
        // Accepted and ignored.
      } else {
        break;
      }
    }
    if (*Format == '*') {
      Field.Width = Marker.template Next<int>();
      ++Format;
    } else {
      while (*Format >= '0' && *Format <= '9') {
        Field.Width = Field.Width * 10 + (*Format - '0');
        ++Format;
      }
    }
    if (*Format == '.') {
      ++Format;
      Field.Precision = 0;
      if (*Format == '*') {
        Field.Precision = Marker.template Next<int>();
        ++Format;
      } else {
        while (*Format >= '0' && *Format <= '9') {
          Field.Precision = Field.Precision * 10 + (*Format - '0');
          ++Format;
        }
      }
    }
    while (*Format == 'l' || *Format == 'L') {
      Long = true;
      ++Format;
    }
    switch (*Format) {
      case 'a':
        PutString(Out, Marker.template Next<const CHAR8 *>(), Field);
        break;
      case 's':
        PutString(Out, Marker.template Next<const CHAR16 *>(), Field);
        break;
      case 'c':
        Out.Put(static_cast<UINT32>(Marker.template Next<int>()) & 0xFFFF);
        break;
      case 'd':
      case 'i': {
        INT64 Value = Long ? Marker.template Next<INT64>() : Marker.template Next<int>();
        bool Negative = Value < 0;
        UINT64 Magnitude = Negative ? 0 - static_cast<UINT64>(Value) : static_cast<UINT64>(Value);
        PutNumber(Out, Magnitude, Negative, 10, false, Field);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        UINT64 Value = Long ? Marker.template Next<UINT64>() : Marker.template Next<unsigned int>();
        UINT32 Base = *Format == 'u' ? 10 : 16;
        PutNumber(Out, Value, false, Base, *Format == 'X', Field);
        break;
      }
      case 'p': {
        FieldFormat Pointer{false, true, 16, -1};
        PutNumber(Out, reinterpret_cast<UINTN>(Marker.template Next<VOID *>()), false, 16, true, Pointer);
        break;
      }
      case 'r': {
        EFI_STATUS Status = Marker.template Next<EFI_STATUS>();
        const CHAR8 *Name = EfiStatusName(Status);
        if (Name != nullptr) {
          PutString(Out, Name, Field);
        } else {
          FieldFormat Hex{false, false, 0, -1};
          PutNumber(Out, Status, false, 16, true, Hex);
        }
        break;
      }
      case 'g':
        PutGuid(Out, Marker.template Next<const EFI_GUID *>());
        break;
      case '%':
        Out.Put('%');
        break;
      case 0:
        return Out.Finish();
      default:
        Out.Put('%');
        Out.Put(static_cast<UINT32>(*Format));
        break;
    }
  }
  return Out.Finish();
}

template <typename OutChar, typename FmtChar>
UINTN FormatV(OutChar *Buffer, UINTN Capacity, const FmtChar *Format, va_list Marker) {
  VaListArgs Args(Marker);
  return FormatArgs(Buffer, Capacity, Format, Args);
}

constexpr UINTN ConsoleLineChars = 1024;

UINTN PrintToConsole(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console, const CHAR8 *Format, va_list Marker) {
  CHAR16 Text[ConsoleLineChars];
  UINTN Length = FormatV(Text, ConsoleLineChars, Format, Marker);
  if (Console != nullptr) {
    Console->OutputString(Console, Text);
  }
  return Length;
}

}  // namespace

UINTN AsciiVSPrint(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, va_list Marker) {
  return FormatV(Buffer, BufferSize, Format, Marker);
}

UINTN AsciiVSPrintEfi(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, EFI_VA_LIST Marker) {
  EfiVaListArgs Args(Marker);
  return FormatArgs(Buffer, BufferSize, Format, Args);
}

UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = FormatV(Buffer, BufferSize, Format, Marker);
  va_end(Marker);
  return Length;
}

UINTN UnicodeVSPrint(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, va_list Marker) {
  return FormatV(Buffer, BufferSize / sizeof(CHAR16), Format, Marker);
}

UINTN UnicodeSPrint(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = FormatV(Buffer, BufferSize / sizeof(CHAR16), Format, Marker);
  va_end(Marker);
  return Length;
}

UINTN UnicodeSPrintAsciiFormat(CHAR16 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = FormatV(Buffer, BufferSize / sizeof(CHAR16), Format, Marker);
  va_end(Marker);
  return Length;
}

UINTN AsciiPrint(const CHAR8 *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = PrintToConsole(gST != nullptr ? gST->ConOut : nullptr, Format, Marker);
  va_end(Marker);
  return Length;
}

UINTN AsciiErrorPrint(const CHAR8 *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = PrintToConsole(gST != nullptr ? gST->StdErr : nullptr, Format, Marker);
  va_end(Marker);
  return Length;
}
