// A RADIUS client over UDP for ap-sim's EAP relay: one outstanding
// Access-Request at a time, replies checked against it (anything that does
// not verify is dropped, as RFC 2865 asks), retransmitted unchanged a
// bounded number of times, and never waiting past a deadline.
#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "Radius.h"

namespace radius {

using Clock = std::chrono::steady_clock;

class Client {
 public:
  Client() = default;
  ~Client();
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  // "ADDRESS:PORT" of an IPv4 server (the tests run it on loopback).
  bool Open(const std::string &Server, const std::string &Secret, std::string *Error);

  // Retransmissions of one request when no valid reply came, and the wait
  // before each.
  static constexpr unsigned kMaxTries = 3;
  static constexpr std::chrono::milliseconds kRetransmitAfter{1000};

  // Sends Request (fresh identifier and Request Authenticator, Message-
  // Authenticator added) and returns the first reply that verifies; nullopt
  // with *Error when none came by the deadline or after kMaxTries sends.
  // Replies that fail a check are dropped and reported to Note.
  std::optional<Packet> Transact(Packet Request, Clock::time_point Deadline, std::string *Error);

  // Request Authenticator and identifier of the last request sent (the
  // MS-MPPE keys of an Accept are hidden with that authenticator).
  const Authenticator &LastRequestAuth() const { return LastAuth_; }
  const std::string   &Secret() const { return Secret_; }
  unsigned             RequestsSent() const { return RequestsSent_; }

  std::function<void(const std::string &)> Note = [](const std::string &) {};

 private:
  int           Socket_ = -1;
  std::string   Secret_;
  std::uint8_t  NextId_ = 0;
  Authenticator LastAuth_{};
  unsigned      RequestsSent_ = 0;
};

}  // namespace radius
