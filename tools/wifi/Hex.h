// Hexadecimal text for frames on the simulators' line protocol and in
// their reports.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wifi {

using Bytes = std::vector<std::uint8_t>;

std::string ToHex(const std::uint8_t *Data, size_t Length);
inline std::string ToHex(const Bytes &Data) { return ToHex(Data.data(), Data.size()); }
// Digits of either case, an even number of them, nothing else.
std::optional<Bytes> FromHex(std::string_view Text);

}  // namespace wifi
