#include "Frames80211.h"

namespace wifi {
namespace {

constexpr std::uint8_t LlcSnapEapol[] = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x88, 0x8E};
constexpr size_t HeaderLength = 24;

// Frame control, first byte: type and subtype.
constexpr std::uint8_t FcAssocRequest = 0x00;
constexpr std::uint8_t FcAssocResponse = 0x10;
constexpr std::uint8_t FcAuthentication = 0xB0;
constexpr std::uint8_t FcData = 0x08;
// Frame control, second byte: distribution-system bits.
constexpr std::uint8_t FlagsToDs = 0x01;
constexpr std::uint8_t FlagsFromDs = 0x02;

void PutLe16(Bytes &Out, std::uint16_t Value) {
  Out.push_back((std::uint8_t)Value);
  Out.push_back((std::uint8_t)(Value >> 8));
}

std::uint16_t Le16(const Bytes &In, size_t Offset) { return (std::uint16_t)(In[Offset] | (In[Offset + 1] << 8)); }

Bytes Header(std::uint8_t Fc0, std::uint8_t Fc1, const MacAddress &A1, const MacAddress &A2, const MacAddress &A3) {
  Bytes Out(HeaderLength, 0);  // duration and sequence control stay 0
  Out[0] = Fc0;
  Out[1] = Fc1;
  std::copy(A1.begin(), A1.end(), Out.begin() + 4);
  std::copy(A2.begin(), A2.end(), Out.begin() + 10);
  std::copy(A3.begin(), A3.end(), Out.begin() + 16);
  return Out;
}

MacAddress AddressAt(const Bytes &Mpdu, size_t Offset) {
  MacAddress Mac;
  std::copy(Mpdu.begin() + (long)Offset, Mpdu.begin() + (long)Offset + 6, Mac.begin());
  return Mac;
}

}  // namespace

Bytes BuildAuthentication(const MacAddress &To, const MacAddress &From, const MacAddress &Bssid,
                          const Authentication &Auth) {
  Bytes Out = Header(FcAuthentication, 0, To, From, Bssid);
  PutLe16(Out, Auth.Algorithm);
  PutLe16(Out, Auth.Transaction);
  PutLe16(Out, Auth.Status);
  Out.insert(Out.end(), Auth.Body.begin(), Auth.Body.end());
  return Out;
}

Bytes BuildAssociationRequest(const MacAddress &Ap, const MacAddress &Station, const AssociationRequest &Request) {
  Bytes Out = Header(FcAssocRequest, 0, Ap, Station, Ap);
  PutLe16(Out, Request.Capability);
  PutLe16(Out, Request.ListenInterval);
  Out.insert(Out.end(), Request.Elements.begin(), Request.Elements.end());
  return Out;
}

Bytes BuildAssociationResponse(const MacAddress &Station, const MacAddress &Ap, const AssociationResponse &Response) {
  Bytes Out = Header(FcAssocResponse, 0, Station, Ap, Ap);
  PutLe16(Out, Response.Capability);
  PutLe16(Out, Response.Status);
  PutLe16(Out, Response.Aid);
  Out.insert(Out.end(), Response.Elements.begin(), Response.Elements.end());
  return Out;
}

Bytes BuildDataToAp(const MacAddress &Ap, const MacAddress &Station, const Bytes &Eapol) {
  Bytes Out = Header(FcData, FlagsToDs, Ap, Station, Ap);
  Out.insert(Out.end(), std::begin(LlcSnapEapol), std::end(LlcSnapEapol));
  Out.insert(Out.end(), Eapol.begin(), Eapol.end());
  return Out;
}

Bytes BuildDataToStation(const MacAddress &Station, const MacAddress &Ap, const Bytes &Eapol) {
  Bytes Out = Header(FcData, FlagsFromDs, Station, Ap, Ap);
  Out.insert(Out.end(), std::begin(LlcSnapEapol), std::end(LlcSnapEapol));
  Out.insert(Out.end(), Eapol.begin(), Eapol.end());
  return Out;
}

Bytes AssociationElements(const std::string &Ssid, const Bytes &Extra) {
  Bytes Out(2 + Ssid.size() + 2 + sizeof(kSupportedRates) + Extra.size());
  auto Next = Out.begin();
  *Next++ = kElementSsid;
  *Next++ = (std::uint8_t)Ssid.size();
  Next = std::copy(Ssid.begin(), Ssid.end(), Next);
  *Next++ = kElementSupportedRates;
  *Next++ = (std::uint8_t)sizeof(kSupportedRates);
  Next = std::copy(std::begin(kSupportedRates), std::end(kSupportedRates), Next);
  std::copy(Extra.begin(), Extra.end(), Next);
  return Out;
}

Bytes SupportedRatesElement() {
  Bytes Out(2 + sizeof(kSupportedRates));
  Out[0] = kElementSupportedRates;
  Out[1] = (std::uint8_t)sizeof(kSupportedRates);
  std::copy(std::begin(kSupportedRates), std::end(kSupportedRates), Out.begin() + 2);
  return Out;
}

std::optional<Bytes> FindElement(const Bytes &Elements, std::uint8_t Id, const std::uint8_t *Selector) {
  size_t Offset = 0;
  while (Offset + 2 <= Elements.size()) {
    size_t Length = Elements[Offset + 1];
    if (Offset + 2 + Length > Elements.size()) {
      return std::nullopt;
    }
    bool SelectorOk = Selector == nullptr ||
                      (Length >= 4 && std::equal(Selector, Selector + 4, Elements.begin() + (long)Offset + 2));
    if (Elements[Offset] == Id && SelectorOk) {
      return Bytes(Elements.begin() + (long)Offset, Elements.begin() + (long)(Offset + 2 + Length));
    }
    Offset += 2 + Length;
  }
  return std::nullopt;
}

std::optional<Frame> ParseFrame(const Bytes &Mpdu) {
  if (Mpdu.size() < HeaderLength) {
    return std::nullopt;
  }
  Frame F;
  F.Addr1 = AddressAt(Mpdu, 4);
  F.Addr2 = AddressAt(Mpdu, 10);
  F.Addr3 = AddressAt(Mpdu, 16);
  std::uint8_t Fc0 = Mpdu[0], Fc1 = Mpdu[1];
  size_t Body = HeaderLength;
  if (Fc0 == FcAuthentication && Fc1 == 0) {
    if (Mpdu.size() < Body + 6) {
      return std::nullopt;
    }
    F.Kind = FrameKind::Authentication;
    F.Auth.Algorithm = Le16(Mpdu, Body);
    F.Auth.Transaction = Le16(Mpdu, Body + 2);
    F.Auth.Status = Le16(Mpdu, Body + 4);
    F.Auth.Body.assign(Mpdu.begin() + (long)(Body + 6), Mpdu.end());
  } else if (Fc0 == FcAssocRequest && Fc1 == 0) {
    if (Mpdu.size() < Body + 4) {
      return std::nullopt;
    }
    F.Kind = FrameKind::AssociationRequest;
    F.AssocRequest.Capability = Le16(Mpdu, Body);
    F.AssocRequest.ListenInterval = Le16(Mpdu, Body + 2);
    F.AssocRequest.Elements.assign(Mpdu.begin() + (long)(Body + 4), Mpdu.end());
  } else if (Fc0 == FcAssocResponse && Fc1 == 0) {
    if (Mpdu.size() < Body + 6) {
      return std::nullopt;
    }
    F.Kind = FrameKind::AssociationResponse;
    F.AssocResponse.Capability = Le16(Mpdu, Body);
    F.AssocResponse.Status = Le16(Mpdu, Body + 2);
    F.AssocResponse.Aid = Le16(Mpdu, Body + 4);
    F.AssocResponse.Elements.assign(Mpdu.begin() + (long)(Body + 6), Mpdu.end());
  } else if (Fc0 == FcData && (Fc1 == FlagsToDs || Fc1 == FlagsFromDs)) {
    if (Mpdu.size() < Body + sizeof(LlcSnapEapol) ||
        !std::equal(std::begin(LlcSnapEapol), std::end(LlcSnapEapol), Mpdu.begin() + (long)Body)) {
      return std::nullopt;
    }
    F.Kind = Fc1 == FlagsToDs ? FrameKind::DataToAp : FrameKind::DataToStation;
    F.Eapol.assign(Mpdu.begin() + (long)(Body + sizeof(LlcSnapEapol)), Mpdu.end());
  }
  return F;
}

}  // namespace wifi
