// snprintf for mbedtls. The image has no C library, and the host build uses
// the same code so that both format alike. Only what mbedtls's X.509 and TLS
// modules ask for: integers in decimal and hexadecimal, characters, strings,
// with flags '-' and '0', width and precision.
#include "SupMbedtlsConfig.h"

#include <stdint.h>

namespace {

// Appends to a bounded buffer and counts what the whole output would need.
class FormatSink {
 public:
  FormatSink(char *Buffer, size_t Size) : Buffer_(Buffer), Size_(Size) {}

  void Put(char Character) {
    if (Length_ + 1 < Size_) {
      Buffer_[Length_] = Character;
    }
    ++Length_;
  }
  void Repeat(char Character, size_t Count) {
    for (size_t Index = 0; Index < Count; ++Index) {
      Put(Character);
    }
  }
  // Terminates inside the buffer (an empty buffer stays untouched).
  int Finish() {
    if (Size_ != 0) {
      Buffer_[Length_ < Size_ ? Length_ : Size_ - 1] = '\0';
    }
    return Length_ > static_cast<size_t>(INT32_MAX) ? -1 : static_cast<int>(Length_);
  }

 private:
  char *Buffer_;
  size_t Size_;
  size_t Length_ = 0;
};

struct ConversionSpec {
  bool LeftAlign = false;
  bool ZeroPad = false;
  size_t Width = 0;
  bool HasPrecision = false;
  size_t Precision = 0;
  int LongCount = 0;  // 1 = l, 2 = ll
  bool SizeT = false;
};

bool IsDigit(char Character) { return Character >= '0' && Character <= '9'; }

size_t ReadNumber(const char *&Format) {
  size_t Value = 0;
  while (IsDigit(*Format)) {
    Value = Value * 10 + static_cast<size_t>(*Format++ - '0');
  }
  return Value;
}

// Width, flags and precision of one conversion; Format is left at the
// conversion character.
ConversionSpec ReadSpec(const char *&Format, va_list &Arguments) {
  ConversionSpec Spec;
  for (;; ++Format) {
    if (*Format == '-') {
      Spec.LeftAlign = true;
    } else if (*Format == '0') {
      Spec.ZeroPad = true;
    } else {
      break;
    }
  }
  if (*Format == '*') {
    ++Format;
    int Width = va_arg(Arguments, int);
    if (Width < 0) {
      Spec.LeftAlign = true;
      Width = -Width;
    }
    Spec.Width = static_cast<size_t>(Width);
  } else {
    Spec.Width = ReadNumber(Format);
  }
  if (*Format == '.') {
    ++Format;
    Spec.HasPrecision = true;
    if (*Format == '*') {
      ++Format;
      int Precision = va_arg(Arguments, int);
      Spec.HasPrecision = Precision >= 0;
      Spec.Precision = Precision >= 0 ? static_cast<size_t>(Precision) : 0;
    } else {
      Spec.Precision = ReadNumber(Format);
    }
  }
  for (; *Format == 'l'; ++Format) {
    ++Spec.LongCount;
  }
  if (*Format == 'z') {
    Spec.SizeT = true;
    ++Format;
  }
  return Spec;
}

void PutPadded(FormatSink &Sink, const ConversionSpec &Spec, const char *Text, size_t Length, char Pad) {
  size_t Padding = Spec.Width > Length ? Spec.Width - Length : 0;
  if (!Spec.LeftAlign) {
    Sink.Repeat(Pad, Padding);
  }
  for (size_t Index = 0; Index < Length; ++Index) {
    Sink.Put(Text[Index]);
  }
  if (Spec.LeftAlign) {
    Sink.Repeat(' ', Padding);
  }
}

void PutString(FormatSink &Sink, const ConversionSpec &Spec, const char *Text) {
  if (Text == nullptr) {
    Text = "(null)";
  }
  size_t Length = 0;
  while ((!Spec.HasPrecision || Length < Spec.Precision) && Text[Length] != '\0') {
    ++Length;
  }
  PutPadded(Sink, Spec, Text, Length, ' ');
}

void PutInteger(FormatSink &Sink, const ConversionSpec &Spec, uint64_t Magnitude, bool Negative, unsigned Base,
                bool Upper) {
  const char *Digits = Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char Text[24];
  size_t Length = 0;
  // C99: precision 0 with value 0 prints no digits.
  if (Magnitude != 0 || !Spec.HasPrecision || Spec.Precision != 0) {
    do {
      Text[sizeof(Text) - 1 - Length++] = Digits[Magnitude % Base];
      Magnitude /= Base;
    } while (Magnitude != 0);
  }
  size_t Zeros = Spec.HasPrecision && Spec.Precision > Length ? Spec.Precision - Length : 0;
  size_t Total = Length + Zeros + (Negative ? 1 : 0);
  // A precision turns the '0' flag off, as in C.
  if (Spec.ZeroPad && !Spec.LeftAlign && !Spec.HasPrecision && Spec.Width > Total) {
    Zeros += Spec.Width - Total;
    Total = Spec.Width;
  }
  size_t Padding = Spec.Width > Total ? Spec.Width - Total : 0;
  if (!Spec.LeftAlign) {
    Sink.Repeat(' ', Padding);
  }
  if (Negative) {
    Sink.Put('-');
  }
  Sink.Repeat('0', Zeros);
  for (size_t Index = sizeof(Text) - Length; Index < sizeof(Text); ++Index) {
    Sink.Put(Text[Index]);
  }
  if (Spec.LeftAlign) {
    Sink.Repeat(' ', Padding);
  }
}

int64_t SignedArgument(const ConversionSpec &Spec, va_list &Arguments) {
  if (Spec.SizeT || Spec.LongCount >= 2) {
    return va_arg(Arguments, long long);
  }
  if (Spec.LongCount == 1) {
    return va_arg(Arguments, long);
  }
  return va_arg(Arguments, int);
}

uint64_t UnsignedArgument(const ConversionSpec &Spec, va_list &Arguments) {
  if (Spec.SizeT) {
    return va_arg(Arguments, size_t);
  }
  if (Spec.LongCount >= 2) {
    return va_arg(Arguments, unsigned long long);
  }
  if (Spec.LongCount == 1) {
    return va_arg(Arguments, unsigned long);
  }
  return va_arg(Arguments, unsigned int);
}

void PutConversion(FormatSink &Sink, const ConversionSpec &Spec, char Conversion, va_list &Arguments) {
  switch (Conversion) {
    case 'd':
    case 'i': {
      int64_t Value = SignedArgument(Spec, Arguments);
      uint64_t Magnitude = Value < 0 ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
      PutInteger(Sink, Spec, Magnitude, Value < 0, 10, false);
      break;
    }
    case 'u':
      PutInteger(Sink, Spec, UnsignedArgument(Spec, Arguments), false, 10, false);
      break;
    case 'x':
    case 'X':
      PutInteger(Sink, Spec, UnsignedArgument(Spec, Arguments), false, 16, Conversion == 'X');
      break;
    case 'c': {
      char Character = static_cast<char>(va_arg(Arguments, int));
      PutPadded(Sink, Spec, &Character, 1, ' ');
      break;
    }
    case 's':
      PutString(Sink, Spec, va_arg(Arguments, const char *));
      break;
    default:
      // '%%' and anything unknown print as themselves.
      Sink.Put(Conversion);
      break;
  }
}

}  // namespace

extern "C" int sup_mbedtls_vsnprintf(char *Buffer, size_t Size, const char *Format, va_list Arguments) {
  FormatSink Sink(Buffer, Size);
  va_list Remaining;
  va_copy(Remaining, Arguments);
  while (*Format != '\0') {
    if (*Format != '%') {
      Sink.Put(*Format++);
      continue;
    }
    ++Format;
    ConversionSpec Spec = ReadSpec(Format, Remaining);
    if (*Format == '\0') {
      break;
    }
    PutConversion(Sink, Spec, *Format++, Remaining);
  }
  va_end(Remaining);
  return Sink.Finish();
}

extern "C" int sup_mbedtls_snprintf(char *Buffer, size_t Size, const char *Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  int Length = sup_mbedtls_vsnprintf(Buffer, Size, Format, Arguments);
  va_end(Arguments);
  return Length;
}
