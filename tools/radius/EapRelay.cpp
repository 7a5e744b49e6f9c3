#include "EapRelay.h"

#include <cstdio>

namespace radius {
namespace {

constexpr std::uint8_t kEapRequest = 1;
constexpr std::uint8_t kEapSuccess = 3;
constexpr std::uint8_t kEapFailure = 4;
constexpr std::uint32_t kServiceTypeFramed = 2;
constexpr std::uint32_t kNasPortTypeWireless80211 = 19;

Bytes Be32(std::uint32_t Value) {
  return {(std::uint8_t)(Value >> 24), (std::uint8_t)(Value >> 16), (std::uint8_t)(Value >> 8), (std::uint8_t)Value};
}

Bytes Text(const std::string &Value) { return Bytes(Value.begin(), Value.end()); }

// An EAP packet of this code whose length field covers it exactly.
bool IsEap(const Bytes &Eap, std::uint8_t Code) {
  return Eap.size() >= 4 && Eap[0] == Code && (size_t)(Eap[2] << 8 | Eap[3]) == Eap.size();
}

// Success or Failure for the station when the server's reply carries no
// EAP-Message (RFC 3579 2.6.3): the identifier of the last response.
Bytes PlainEap(std::uint8_t Code, std::uint8_t Identifier) { return {Code, Identifier, 0, 4}; }

}  // namespace

std::string StationIdFromMac(const std::uint8_t *Mac) {
  char Out[18];
  std::snprintf(Out, sizeof(Out), "%02X-%02X-%02X-%02X-%02X-%02X", Mac[0], Mac[1], Mac[2], Mac[3], Mac[4], Mac[5]);
  return Out;
}

EapRelay::Step EapRelay::Forward(const Bytes &EapResponse, const std::string &Identity, Clock::time_point Deadline) {
  Step Out;
  if (EapResponse.size() < 5 || Identity.empty() || Identity.size() > kMaxAttributeValue) {
    Out.Error = "nothing to relay (no EAP-Response or no identity)";
    return Out;
  }
  Packet Request;
  Request.Attributes = {
      {kUserName, Text(Identity)},
      {kNasIpAddress, {127, 0, 0, 1}},
      {kNasIdentifier, Text("ap-sim")},
      {kCalledStationId, Text(Station_.ApMac + ":" + Station_.Ssid)},
      {kCallingStationId, Text(Station_.StationMac)},
      {kServiceType, Be32(kServiceTypeFramed)},
      {kNasPortType, Be32(kNasPortTypeWireless80211)},
      {kFramedMtu, Be32(kAnnouncedMtu)},
  };
  if (!State_.empty()) {
    Request.Attributes.push_back({kState, State_});
  }
  AddEapMessage(Request, EapResponse);
  std::optional<Packet> Reply = Client_.Transact(Request, Deadline, &Out.Error);
  if (!Reply) {
    return Out;
  }
  Bytes Eap = Reply->EapMessage();
  const Attribute *State = Reply->Find(kState);
  State_ = State != nullptr ? State->Value : Bytes();
  switch (Reply->PacketCode) {
    case Code::AccessChallenge:
      if (!IsEap(Eap, kEapRequest)) {
        Out.Error = "Access-Challenge without an EAP-Request";
        return Out;
      }
      Out.Result = Kind::Challenge;
      Out.Eap = Eap;
      return Out;
    case Code::AccessAccept: {
      if (!Eap.empty() && !IsEap(Eap, kEapSuccess)) {
        Out.Error = "Access-Accept whose EAP-Message is not an EAP-Success";
        return Out;
      }
      std::optional<Bytes> Value = MicrosoftAttribute(*Reply, kMsMppeRecvKey);
      std::optional<Bytes> Key =
          Value ? DecryptMppeKey(*Value, Client_.Secret(), Client_.LastRequestAuth()) : std::nullopt;
      if (!Key || Key->size() < kPmkLength) {
        Out.Error = "Access-Accept without a usable MS-MPPE-Recv-Key";
        return Out;
      }
      Out.Result = Kind::Accept;
      Out.Eap = Eap.empty() ? PlainEap(kEapSuccess, EapResponse[1]) : Eap;
      Out.Pmk.assign(Key->begin(), Key->begin() + kPmkLength);
      return Out;
    }
    case Code::AccessReject:
      Out.Result = Kind::Reject;
      Out.Eap = IsEap(Eap, kEapFailure) ? Eap : PlainEap(kEapFailure, EapResponse[1]);
      return Out;
    default:
      Out.Error = "unexpected RADIUS reply";
      return Out;
  }
}

}  // namespace radius
