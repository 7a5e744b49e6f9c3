// The IEEE 802.11 MPDUs of the simulators' exchange (no FCS): Open System
// and SAE Authentication, Association Request/Response, and data frames
// carrying EAPOL behind an LLC/SNAP header.
#pragma once
#include <optional>
#include <string>

#include "Hex.h"
#include "Modes.h"

namespace wifi {

constexpr std::uint16_t kCapabilityInformation = 0x0411;
constexpr std::uint16_t kListenInterval = 10;
constexpr std::uint16_t kAssociationId = 0xC001;
constexpr std::uint8_t kSupportedRates[] = {0x82, 0x84, 0x8B, 0x96};

constexpr std::uint16_t kAuthOpenSystem = 0;
constexpr std::uint16_t kAuthSae = 3;

constexpr std::uint8_t kElementSsid = 0;
constexpr std::uint8_t kElementSupportedRates = 1;
constexpr std::uint8_t kElementRsn = 48;
constexpr std::uint8_t kElementVendor = 221;

enum class FrameKind { Authentication, AssociationRequest, AssociationResponse, DataToAp, DataToStation, Other };

struct Authentication {
  std::uint16_t Algorithm = kAuthOpenSystem;
  std::uint16_t Transaction = 1;
  std::uint16_t Status = 0;
  Bytes         Body;  // SAE commit or confirm
};

struct AssociationRequest {
  std::uint16_t Capability = kCapabilityInformation;
  std::uint16_t ListenInterval = kListenInterval;
  Bytes         Elements;  // SSID, rates, security element, whole
};

struct AssociationResponse {
  std::uint16_t Capability = kCapabilityInformation;
  std::uint16_t Status = 0;
  std::uint16_t Aid = kAssociationId;
  Bytes         Elements;
};

// A frame taken apart.
struct Frame {
  FrameKind  Kind = FrameKind::Other;
  MacAddress Addr1{}, Addr2{}, Addr3{};
  Authentication      Auth;
  AssociationRequest  AssocRequest;
  AssociationResponse AssocResponse;
  Bytes               Eapol;  // data frames with the EAPOL LLC/SNAP header
};

// Frame parsing; nullopt for anything too short or not one of the kinds
// above in a well-formed shape.
std::optional<Frame> ParseFrame(const Bytes &Mpdu);

Bytes BuildAuthentication(const MacAddress &To, const MacAddress &From, const MacAddress &Bssid,
                          const Authentication &Auth);
Bytes BuildAssociationRequest(const MacAddress &Ap, const MacAddress &Station, const AssociationRequest &Request);
Bytes BuildAssociationResponse(const MacAddress &Station, const MacAddress &Ap, const AssociationResponse &Response);
// Station -> AP (ToDS): addr1 = BSSID, addr2 = SA, addr3 = DA.
Bytes BuildDataToAp(const MacAddress &Ap, const MacAddress &Station, const Bytes &Eapol);
// AP -> station (FromDS): addr1 = DA, addr2 = BSSID, addr3 = SA.
Bytes BuildDataToStation(const MacAddress &Station, const MacAddress &Ap, const Bytes &Eapol);

// Elements of an association frame: SSID, the rates, then Extra (whole
// elements, e.g. the security element).
Bytes AssociationElements(const std::string &Ssid, const Bytes &Extra);
// The Supported Rates element, whole.
Bytes SupportedRatesElement();
// The first element with this id (for 221: whose body starts with the
// four-byte Selector), whole; nullopt when absent or truncated.
std::optional<Bytes> FindElement(const Bytes &Elements, std::uint8_t Id, const std::uint8_t *Selector = nullptr);

}  // namespace wifi
