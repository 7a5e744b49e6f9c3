#include "Station.h"

#include <cstring>

#include "uefi_sup.h"

namespace wifi {
namespace {

constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr UINT8 BipCmac128 = 6;
// The largest SAE body a driver may reasonably ask room for (a commit with
// every hash-to-element element at its bound stays below it).
constexpr UINTN SaeBodyRoom = 1024;

std::vector<UINT8> OneSuite(const UINT8 *Oui, UINT8 Type) { return {1, 0, Oui[0], Oui[1], Oui[2], Type}; }

}  // namespace

std::string StatusName(EFI_STATUS Status) {
  struct Named {
    EFI_STATUS  Status;
    const char *Name;
  };
  static const Named Names[] = {
      {EFI_SUCCESS, "EFI_SUCCESS"},
      {EFI_INVALID_PARAMETER, "EFI_INVALID_PARAMETER"},
      {EFI_UNSUPPORTED, "EFI_UNSUPPORTED"},
      {EFI_BUFFER_TOO_SMALL, "EFI_BUFFER_TOO_SMALL"},
      {EFI_NOT_READY, "EFI_NOT_READY"},
      {EFI_OUT_OF_RESOURCES, "EFI_OUT_OF_RESOURCES"},
      {EFI_NOT_FOUND, "EFI_NOT_FOUND"},
      {EFI_ACCESS_DENIED, "EFI_ACCESS_DENIED"},
      {EFI_ABORTED, "EFI_ABORTED"},
      {EFI_PROTOCOL_ERROR, "EFI_PROTOCOL_ERROR"},
      {EFI_SECURITY_VIOLATION, "EFI_SECURITY_VIOLATION"},
  };
  for (const Named &Entry : Names) {
    if (Entry.Status == Status) {
      return Entry.Name;
    }
  }
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%llx", (unsigned long long)Status);
  return Text;
}

StationDriver::StationDriver(HostEnv::Environment &Env) : Env_(Env) {
  Image_ = Env_.LoadImage(NorvSupDxeModuleEntry, {.FileName = u"NorvSupDxe.efi"});
  EFI_STATUS Status = Env_.StartImage(Image_);
  if (EFI_ERROR(Status)) {
    Error_ = "driver entry failed: " + StatusName(Status);
    Image_ = nullptr;
    return;
  }
  EFI_BOOT_SERVICES *BS = Env_.BootServices();
  Status = BS->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Service_));
  if (!EFI_ERROR(Status)) {
    Status = Service_->CreateChild(Service_, &Child_);
  }
  if (!EFI_ERROR(Status)) {
    Status = BS->HandleProtocol(Child_, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Supplicant_));
  }
  if (!EFI_ERROR(Status)) {
    Status = BS->HandleProtocol(Child_, &gEfiEapConfigurationProtocolGuid, reinterpret_cast<VOID **>(&EapConfig_));
  }
  if (EFI_ERROR(Status)) {
    Error_ = "no supplicant child: " + StatusName(Status);
    Supplicant_ = nullptr;
  }
}

StationDriver::~StationDriver() {
  if (Service_ != nullptr && Child_ != nullptr) {
    Service_->DestroyChild(Service_, Child_);
  }
  if (Image_ != nullptr) {
    Env_.UnloadImage(Image_);
  }
}

EFI_STATUS StationDriver::Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) {
  return Supplicant_->SetData(Supplicant_, Type, const_cast<void *>(Data), Size);
}

EFI_STATUS StationDriver::Configure(const StationConfig &Config) {
  const Mode &M = Config.Security;
  EFI_80211_SSID Ssid = {};
  Ssid.SSIdLen = (UINT8)std::min<size_t>(Config.Ssid.size(), EFI_MAX_SSID_LEN);
  std::memcpy(Ssid.SSId, Config.Ssid.data(), Ssid.SSIdLen);
  std::vector<UINT8> Akm = OneSuite(M.SuiteOui, M.AkmType);
  std::vector<UINT8> Cipher = OneSuite(M.SuiteOui, M.CipherType);
  std::vector<UINT8> GroupMgmt = OneSuite(RsnOui, BipCmac128);
  UINT8 MfpWishes[2] = {(UINT8)(Config.MfpSetting != Mfp::Off), (UINT8)(Config.MfpSetting == Mfp::Required)};
  const UINT8 H2eMethod = 1;

  struct Step {
    EFI_SUPPLICANT_DATA_TYPE Type;
    const void              *Data;
    UINTN                    Size;
    const char              *What;
    bool                     Wanted;
  } Steps[] = {
      {EfiSupplicant80211AKMSuite, Akm.data(), Akm.size(), "AKM suite", true},
      {EfiSupplicant80211PairwiseCipherSuite, Cipher.data(), Cipher.size(), "pairwise cipher", true},
      {EfiSupplicant80211GroupDataCipherSuite, Cipher.data(), Cipher.size(), "group cipher", true},
      {EfiSupplicant80211TargetSSIDName, &Ssid, sizeof(Ssid), "SSID", true},
      {EfiSupplicant80211TargetSSIDMac, Config.ApMac.data(), 6, "access point address", true},
      {EfiSupplicant80211MfpCapability, MfpWishes, sizeof(MfpWishes), "MFP capability",
       Config.MfpSetting != Mfp::Off},
      {EfiSupplicant80211GroupMgmtCipherSuite, GroupMgmt.data(), GroupMgmt.size(), "group management cipher",
       Config.MfpSetting != Mfp::Off && M.Rsn},
      {EfiSupplicant80211StationMac, Config.StationMac.data(), 6, "station address", true},
      // With its terminating NUL, as connection managers hand strings over.
      {EfiSupplicant80211PskPassword, Config.Passphrase.c_str(), Config.Passphrase.size() + 1, "pass phrase",
       !M.Eap},
      {EfiSupplicantSaePweMethod, &H2eMethod, 1, "SAE PWE method", Config.SaeH2e},
      {EfiSupplicantSaePasswordIdentifier, Config.PasswordId.data(), Config.PasswordId.size(),
       "SAE password identifier", !Config.PasswordId.empty()},
  };
  for (const Step &S : Steps) {
    if (!S.Wanted) {
      continue;
    }
    EFI_STATUS Status = Set(S.Type, S.Data, S.Size);
    if (EFI_ERROR(Status)) {
      Error_ = std::string("SetData(") + S.What + ") failed: " + StatusName(Status);
      return Status;
    }
  }
  return M.Eap ? ConfigureEap(Config) : EFI_SUCCESS;
}

bool LooksLikePem(const Bytes &File) {
  static constexpr char Begin[] = "-----BEGIN ";
  std::string Text(File.begin(), File.end());
  return Text.find(Begin) != std::string::npos;
}

// EAP-TLS through EFI_EAP_CONFIGURATION_PROTOCOL: the method (EAP type 0,
// data type 0), the identity (under the Identity type), then the TLS
// credentials under EAP-TLS.
EFI_STATUS StationDriver::ConfigureEap(const StationConfig &Config) {
  auto AsDriverSees = [](const Bytes &File) {
    Bytes Data = File;
    if (LooksLikePem(File)) {
      Data.push_back(0);
    }
    return Data;
  };
  const UINT8 Method = EFI_EAP_TYPE_EAPTLS;
  Bytes Identity(Config.Identity.begin(), Config.Identity.end());
  Bytes Ca = AsDriverSees(Config.CaCert), Cert = AsDriverSees(Config.ClientCert), Key = AsDriverSees(Config.ClientKey);
  Bytes Password(Config.ClientKeyPassword.begin(), Config.ClientKeyPassword.end());
  Password.push_back(0);
  struct Step {
    EFI_EAP_TYPE             EapType;
    EFI_EAP_CONFIG_DATA_TYPE Type;
    const Bytes             *Data;
    const char              *What;
    bool                     Wanted;
  };
  const Bytes MethodBytes = {Method};
  const Step Steps[] = {
      {EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapAuthMethod, &MethodBytes, "EAP method", true},
      {EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString, &Identity, "EAP identity", true},
      {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, &Ca, "CA certificate", true},
      {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientCert, &Cert, "client certificate", true},
      {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFile, &Key, "client key", true},
      {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFilePassword, &Password, "client key password",
       !Config.ClientKeyPassword.empty()},
  };
  for (const Step &S : Steps) {
    if (!S.Wanted) {
      continue;
    }
    // Kept: the driver uses the buffers where they are (the member takes
    // them non-const).
    Bytes &Data = EapBuffers_.emplace_back(*S.Data);
    EFI_STATUS Status = EapConfig_->SetData(EapConfig_, S.EapType, S.Type, Data.data(), Data.size());
    if (EFI_ERROR(Status)) {
      Error_ = std::string("EAP SetData(") + S.What + ") failed: " + StatusName(Status);
      return Status;
    }
  }
  return EFI_SUCCESS;
}

StationDriver::Answer StationDriver::Respond(const std::vector<UINT8> &EapolFrame) {
  std::vector<UINT8> Request(EapolFrame);  // the member takes a non-const buffer
  std::vector<UINT8> Response(kResponseRoom);
  UINTN Size = Response.size();
  EFI_STATUS Status = Supplicant_->BuildResponsePacket(Supplicant_, Request.empty() ? nullptr : Request.data(),
                                                       Request.size(), Response.data(), &Size);
  if (Status == EFI_BUFFER_TOO_SMALL && Size > Response.size() && Size <= kMaxResponse) {
    Response.resize(Size);
    Status = Supplicant_->BuildResponsePacket(Supplicant_, Request.empty() ? nullptr : Request.data(),
                                              Request.size(), Response.data(), &Size);
  }
  if (Status != EFI_SUCCESS) {
    return {Status, {}};
  }
  Response.resize(Size);
  return {Status, Response};
}

EFI_STATUS StationDriver::SaeBody(EFI_SUPPLICANT_DATA_TYPE Type, std::vector<UINT8> *Body) {
  UINTN Size = 0;
  EFI_STATUS Status = Supplicant_->GetData(Supplicant_, Type, nullptr, &Size);
  if (Status != EFI_BUFFER_TOO_SMALL || Size == 0 || Size > SaeBodyRoom) {
    Body->clear();
    return Status == EFI_SUCCESS ? EFI_PROTOCOL_ERROR : Status;
  }
  Body->assign(Size, 0);
  Status = Supplicant_->GetData(Supplicant_, Type, Body->data(), &Size);
  Body->resize(Status == EFI_SUCCESS ? Size : 0);
  return Status;
}

std::optional<EFI_SUPPLICANT_KEY> StationDriver::Key(EFI_SUPPLICANT_DATA_TYPE Type) {
  // GTK and IGTK (15) come as a key list: a count byte, then the keys.
  bool List = Type == EfiSupplicant80211GTK || Type == EfiSupplicant80211IGTK;
  EFI_SUPPLICANT_GTK_LIST Buffer = {};
  UINTN Size = List ? sizeof(EFI_SUPPLICANT_GTK_LIST) : sizeof(EFI_SUPPLICANT_KEY);
  void *Data = List ? static_cast<void *>(&Buffer) : static_cast<void *>(&Buffer.GTKList[0]);
  EFI_STATUS Status = Supplicant_->GetData(Supplicant_, Type, static_cast<UINT8 *>(Data), &Size);
  if (EFI_ERROR(Status) || (List && Buffer.GTKCount != 1)) {
    return std::nullopt;
  }
  return Buffer.GTKList[0];
}

std::optional<UINT32> StationDriver::SupplicantState() {
  UINT32 State = 0;
  UINTN Size = sizeof(State);
  if (EFI_ERROR(Supplicant_->GetData(Supplicant_, EfiSupplicantState, reinterpret_cast<UINT8 *>(&State), &Size))) {
    return std::nullopt;
  }
  return State;
}

std::optional<bool> StationDriver::KeyRefresh() {
  UINT8 Refreshed = 0;
  UINTN Size = sizeof(Refreshed);
  if (EFI_ERROR(Supplicant_->GetData(Supplicant_, EfiSupplicantKeyRefresh, &Refreshed, &Size))) {
    return std::nullopt;
  }
  return Refreshed != 0;
}

EFI_STATUS StationDriver::Read(EFI_SUPPLICANT_DATA_TYPE Type, std::vector<UINT8> *Out) {
  Out->clear();
  UINTN Size = 0;
  EFI_STATUS Status = Supplicant_->GetData(Supplicant_, Type, nullptr, &Size);
  if (Status == EFI_BUFFER_TOO_SMALL) {
    Out->resize(Size);
    Status = Supplicant_->GetData(Supplicant_, Type, Out->data(), &Size);
  }
  Out->resize(Status == EFI_SUCCESS ? std::min<size_t>(Size, Out->size()) : 0);
  return Status;
}

}  // namespace wifi
