#include "Modes.h"

#include <cstdio>

namespace wifi {
namespace {

constexpr UINT8 WpaOui[3] = {0x00, 0x50, 0xF2};
constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr UINT8 Tkip = 2;
constexpr UINT8 Ccmp = 4;

const Mode Modes[] = {
    {"wpa-psk-tkip", authenticator::MODE::WpaPskTkip, AuthAlgorithm::OpenSystem, {WpaOui[0], WpaOui[1], WpaOui[2]}, 2, Tkip, false},
    {"wpa2-psk", authenticator::MODE::Wpa2Psk, AuthAlgorithm::OpenSystem, {RsnOui[0], RsnOui[1], RsnOui[2]}, 2, Ccmp, true},
    {"wpa2-psk-sha256", authenticator::MODE::Wpa2PskSha256, AuthAlgorithm::OpenSystem, {RsnOui[0], RsnOui[1], RsnOui[2]}, 6, Ccmp, true},
    {"wpa3-sae", authenticator::MODE::Wpa3Sae, AuthAlgorithm::Sae, {RsnOui[0], RsnOui[1], RsnOui[2]}, 8, Ccmp, true},
    {"wpa2-eap-tls", authenticator::MODE::Wpa2Eap, AuthAlgorithm::OpenSystem, {RsnOui[0], RsnOui[1], RsnOui[2]}, 1, Ccmp,
     true, true},
    {"wpa2-eap-tls-sha256", authenticator::MODE::Wpa2EapSha256, AuthAlgorithm::OpenSystem,
     {RsnOui[0], RsnOui[1], RsnOui[2]}, 5, Ccmp, true, true},
};

}  // namespace

std::optional<Mode> FindMode(std::string_view Name) {
  for (const Mode &M : Modes) {
    if (M.Name == Name) {
      return M;
    }
  }
  return std::nullopt;
}

std::string ModeNames() {
  std::string Names;
  for (const Mode &M : Modes) {
    Names += (Names.empty() ? "" : "|") + std::string(M.Name);
  }
  return Names;
}

size_t MinPasswordLength(const Mode &M) { return M.Auth == AuthAlgorithm::Sae ? 1 : 8; }

bool PasswordLengthFits(const Mode &M, size_t Length) {
  return Length >= MinPasswordLength(M) && Length <= kMaxPasswordLength;
}

std::optional<Mfp> ParseMfp(std::string_view Text) {
  if (Text == "off") {
    return Mfp::Off;
  }
  if (Text == "capable") {
    return Mfp::Capable;
  }
  if (Text == "required") {
    return Mfp::Required;
  }
  return std::nullopt;
}

std::string_view MfpName(Mfp Value) {
  switch (Value) {
    case Mfp::Off:
      return "off";
    case Mfp::Capable:
      return "capable";
    case Mfp::Required:
      return "required";
  }
  return "off";
}

authenticator::MFP_POLICY MfpPolicy(Mfp Value) {
  return {Value != Mfp::Off, Value == Mfp::Required};
}

bool MfpNegotiated(const Mode &M, Mfp Station, Mfp AccessPoint) {
  return M.Rsn && Station != Mfp::Off && AccessPoint != Mfp::Off;
}

std::optional<MacAddress> ParseMac(std::string_view Text) {
  MacAddress Mac{};
  if (Text.size() != 17) {
    return std::nullopt;
  }
  for (size_t Index = 0; Index < 6; ++Index) {
    if (Index > 0 && Text[3 * Index - 1] != ':') {
      return std::nullopt;
    }
    unsigned Value = 0;
    for (size_t Digit = 0; Digit < 2; ++Digit) {
      char C = Text[3 * Index + Digit];
      int Nibble = (C >= '0' && C <= '9') ? C - '0' : (C >= 'a' && C <= 'f') ? C - 'a' + 10 : (C >= 'A' && C <= 'F') ? C - 'A' + 10 : -1;
      if (Nibble < 0) {
        return std::nullopt;
      }
      Value = Value * 16 + (unsigned)Nibble;
    }
    Mac[Index] = (UINT8)Value;
  }
  return Mac;
}

std::string FormatMac(const MacAddress &Mac) {
  char Text[18];
  std::snprintf(Text, sizeof(Text), "%02x:%02x:%02x:%02x:%02x:%02x", Mac[0], Mac[1], Mac[2], Mac[3], Mac[4], Mac[5]);
  return Text;
}

}  // namespace wifi
