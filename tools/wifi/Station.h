// The supplicant driver as a Wi-Fi connection manager drives it: loaded into
// the host UEFI environment like DXE dispatch would, one child created
// through the service binding, configured with SetData, fed EAPOL-Key frames
// through BuildResponsePacket, its keys read back with GetData.
#pragma once
#include <HostEnv/Environment.h>
#include <uefi/Protocol/EapConfiguration.h>
#include <uefi/Protocol/Supplicant.h>

#include <optional>
#include <string>
#include <vector>

#include "Hex.h"
#include "Modes.h"

namespace wifi {

struct StationConfig {
  Mode        Security;
  std::string Ssid;
  std::string Passphrase;
  MacAddress  StationMac;
  MacAddress  ApMac;
  Mfp         MfpSetting = Mfp::Off;
  // SAE: hash to element instead of hunting and pecking, and the password
  // identifier (hash to element only; empty for none).
  bool        SaeH2e = false;
  std::string PasswordId = {};
  // EAP-TLS (modes with Eap): the identity and the files' contents as read
  // (PEM or DER); an empty key password for an unencrypted key.
  std::string Identity = {};
  Bytes       CaCert = {};
  Bytes       ClientCert = {};
  Bytes       ClientKey = {};
  std::string ClientKeyPassword = {};
};

// PEM files go to the driver with a terminating NUL, DER files as they are.
bool LooksLikePem(const Bytes &File);

// "EFI_PROTOCOL_ERROR" style name of a status.
std::string StatusName(EFI_STATUS Status);

class StationDriver {
 public:
  // Loads and starts the driver in Env and creates one child. Check Ready().
  explicit StationDriver(HostEnv::Environment &Env);
  // Destroys the child and unloads the driver.
  ~StationDriver();
  StationDriver(const StationDriver &) = delete;
  StationDriver &operator=(const StationDriver &) = delete;

  bool        Ready() const { return Supplicant_ != nullptr; }
  std::string Error() const { return Error_; }
  EFI_SUPPLICANT_PROTOCOL *Supplicant() const { return Supplicant_; }

  // SetData for AKM, ciphers, SSID, both addresses, MFP wishes and the pass
  // phrase or SAE password, in the order a connection manager uses (SSID
  // before pass phrase); for EAP modes no pass phrase, but the EAP
  // configuration protocol's method, identity and TLS credentials.
  // EFI_SUCCESS or the first failure (named in Error()).
  EFI_STATUS Configure(const StationConfig &Config);

  struct Answer {
    EFI_STATUS         Status;
    std::vector<UINT8> Frame;  // empty unless Status is EFI_SUCCESS
  };
  // BuildResponsePacket with a 2048-byte buffer, again with the size the
  // driver asks for on EFI_BUFFER_TOO_SMALL (up to kMaxResponse). A
  // response of 0 bytes (EAP-Success, EAP-Failure) is EFI_SUCCESS with an
  // empty frame.
  static constexpr UINTN kResponseRoom = 2048;
  static constexpr UINTN kMaxResponse = 65536;
  Answer Respond(const std::vector<UINT8> &EapolFrame);

  // GetData of an SAE body: the own commit (EfiSupplicantSaeCommit) or
  // confirm (EfiSupplicantSaeConfirm), into *Body on success, sized by the
  // driver's size probe first.
  EFI_STATUS SaeBody(EFI_SUPPLICANT_DATA_TYPE Type, std::vector<UINT8> *Body);

  // GetData results; nullopt when the driver refuses.
  std::optional<EFI_SUPPLICANT_KEY> Key(EFI_SUPPLICANT_DATA_TYPE Type);
  std::optional<UINT32>             SupplicantState();
  std::optional<bool>               KeyRefresh();
  // GetData of a result whose size the driver tells: a size probe, then the
  // read; *Out holds the bytes on success.
  EFI_STATUS Read(EFI_SUPPLICANT_DATA_TYPE Type, std::vector<UINT8> *Out);
  EFI_STATUS Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size);

 private:
  HostEnv::Environment         &Env_;
  EFI_HANDLE                    Image_ = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL *Service_ = nullptr;
  EFI_HANDLE                    Child_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL      *Supplicant_ = nullptr;
  EFI_EAP_CONFIGURATION_PROTOCOL *EapConfig_ = nullptr;
  // The EAP configuration's buffers: the driver reads them when EAP-TLS
  // starts, so they live as long as the child.
  std::vector<Bytes>            EapBuffers_;
  std::string                   Error_;

  EFI_STATUS ConfigureEap(const StationConfig &Config);
};

}  // namespace wifi
