#include "RadiusClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace radius {

Client::~Client() {
  if (Socket_ >= 0) {
    close(Socket_);
  }
}

bool Client::Open(const std::string &Server, const std::string &Secret, std::string *Error) {
  size_t Colon = Server.rfind(':');
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  unsigned long Port = 0;
  try {
    Port = Colon == std::string::npos ? 0 : std::stoul(Server.substr(Colon + 1));
  } catch (const std::exception &) {
    Port = 0;
  }
  if (Colon == std::string::npos || Port == 0 || Port > 65535 ||
      inet_pton(AF_INET, Server.substr(0, Colon).c_str(), &Address.sin_addr) != 1) {
    *Error = "the RADIUS server must be ADDRESS:PORT with an IPv4 address, not \"" + Server + "\"";
    return false;
  }
  if (Secret.empty()) {
    *Error = "the RADIUS shared secret must not be empty";
    return false;
  }
  Address.sin_port = htons((std::uint16_t)Port);
  Socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  // A connected socket only hears from the server itself.
  if (Socket_ < 0 || connect(Socket_, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)) != 0) {
    *Error = "cannot reach the RADIUS server " + Server;
    return false;
  }
  Secret_ = Secret;
  std::random_device Device;
  NextId_ = (std::uint8_t)Device();
  return true;
}

std::optional<Packet> Client::Transact(Packet Request, Clock::time_point Deadline, std::string *Error) {
  std::random_device Device;
  for (std::uint8_t &Byte : Request.Auth) {
    Byte = (std::uint8_t)Device();
  }
  Request.PacketCode = Code::AccessRequest;
  Request.Identifier = NextId_++;
  std::optional<Bytes> Wire = EncodeRequest(Request, Secret_);
  if (!Wire) {
    *Error = "the Access-Request does not fit a RADIUS packet";
    return std::nullopt;
  }
  LastAuth_ = Request.Auth;
  for (unsigned Try = 0; Try < kMaxTries; ++Try) {
    if (send(Socket_, Wire->data(), Wire->size(), 0) != (ssize_t)Wire->size()) {
      *Error = "sending the Access-Request failed";
      return std::nullopt;
    }
    ++RequestsSent_;
    Clock::time_point Resend = std::min(Deadline, Clock::now() + kRetransmitAfter);
    for (;;) {
      auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Resend - Clock::now()).count();
      if (Left <= 0) {
        break;
      }
      pollfd Poll = {Socket_, POLLIN, 0};
      if (poll(&Poll, 1, (int)Left) <= 0) {
        continue;
      }
      Bytes Datagram(kMaxPacketLength + 1);
      ssize_t Got = recv(Socket_, Datagram.data(), Datagram.size(), 0);
      if (Got < 0) {
        continue;  // e.g. ICMP port unreachable: nothing listens yet
      }
      Datagram.resize((size_t)Got);
      std::string Why;
      std::optional<Packet> Reply = Decode(Datagram, &Why);
      if (!Reply) {
        Note("dropped a malformed RADIUS reply: " + Why);
        continue;
      }
      ReplyCheck Check = CheckReply(Datagram, *Reply, Request.Identifier, Request.Auth, Secret_);
      if (Check != ReplyCheck::Ok) {
        Note(std::string("dropped a RADIUS reply: ") + ReplyCheckName(Check));
        continue;
      }
      return Reply;
    }
    if (Clock::now() >= Deadline) {
      break;
    }
  }
  *Error = "no valid RADIUS reply to Access-Request " + std::to_string(Request.Identifier) + " after " +
           std::to_string(kMaxTries) + " tries or by the deadline";
  return std::nullopt;
}

}  // namespace radius
