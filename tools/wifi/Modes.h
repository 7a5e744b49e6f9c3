// The security modes the station and access-point simulators speak: their
// command-line names, the suites a connection manager configures, and the
// authenticator's view of each.
#pragma once
#include <Authenticator.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace wifi {

enum class AuthAlgorithm { OpenSystem, Sae };

struct Mode {
  std::string_view     Name;
  authenticator::MODE  Handshake;
  AuthAlgorithm        Auth;
  UINT8                SuiteOui[3];  // OUI of the AKM and cipher suites
  UINT8                AkmType;
  UINT8                CipherType;
  bool                 Rsn;
  // Enterprise: the PMK comes from an EAP method run after association
  // (EAP-TLS), not from a pass phrase.
  bool                 Eap = false;
};

std::optional<Mode> FindMode(std::string_view Name);
// "wpa-psk-tkip|wpa2-psk|wpa2-psk-sha256|wpa3-sae|wpa2-eap-tls|wpa2-eap-tls-sha256"
std::string ModeNames();

// An SAE password takes 1..63 characters, a pass phrase 8..63.
constexpr size_t kMaxPasswordLength = 63;
size_t MinPasswordLength(const Mode &M);
bool PasswordLengthFits(const Mode &M, size_t Length);

enum class Mfp { Off, Capable, Required };
std::optional<Mfp> ParseMfp(std::string_view Text);
std::string_view MfpName(Mfp Value);
authenticator::MFP_POLICY MfpPolicy(Mfp Value);

// Management-frame protection is in force when the mode is RSN and both
// sides are at least capable (a side that requires it refuses a peer that
// is not capable).
bool MfpNegotiated(const Mode &M, Mfp Station, Mfp AccessPoint);

using MacAddress = std::array<UINT8, 6>;
std::optional<MacAddress> ParseMac(std::string_view Text);
std::string FormatMac(const MacAddress &Mac);

}  // namespace wifi
