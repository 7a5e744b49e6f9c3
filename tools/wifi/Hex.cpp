#include "Hex.h"

namespace wifi {

std::string ToHex(const std::uint8_t *Data, size_t Length) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string Text;
  Text.reserve(2 * Length);
  for (size_t Index = 0; Index < Length; ++Index) {
    Text.push_back(Digits[Data[Index] >> 4]);
    Text.push_back(Digits[Data[Index] & 15]);
  }
  return Text;
}

namespace {
int Nibble(char C) {
  if (C >= '0' && C <= '9') {
    return C - '0';
  }
  if (C >= 'a' && C <= 'f') {
    return C - 'a' + 10;
  }
  if (C >= 'A' && C <= 'F') {
    return C - 'A' + 10;
  }
  return -1;
}
}  // namespace

std::optional<Bytes> FromHex(std::string_view Text) {
  if (Text.size() % 2 != 0) {
    return std::nullopt;
  }
  Bytes Data(Text.size() / 2);
  for (size_t Index = 0; Index < Data.size(); ++Index) {
    int High = Nibble(Text[2 * Index]);
    int Low = Nibble(Text[2 * Index + 1]);
    if (High < 0 || Low < 0) {
      return std::nullopt;
    }
    Data[Index] = (std::uint8_t)(High * 16 + Low);
  }
  return Data;
}

}  // namespace wifi
