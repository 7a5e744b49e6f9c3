// The simulators' line protocol over a pair of file descriptors: one frame
// (hexadecimal) or one comment ("# ...") per line, and the peer process
// sup-sim talks to.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

#include "Hex.h"

namespace wifi {

using Clock = std::chrono::steady_clock;

// The largest IEEE 802.11 MPDU, in octets.
constexpr size_t kMaxMpduLength = 11454;

class LineChannel {
 public:
  // The longest line taken: the largest MPDU in hexadecimal and a '\r'.
  static constexpr size_t kMaxLineLength = 2 * kMaxMpduLength + 1;

  LineChannel(int ReadFd, int WriteFd) : ReadFd_(ReadFd), WriteFd_(WriteFd) {}

  // Ok: a line was read or written. Closed: the peer has gone. TooLong: the
  // peer sent a line longer than kMaxLineLength (the channel is unusable).
  enum class Result { Ok, Closed, TimedOut, TooLong, Failed };
  // Reads one line (without its newline; a trailing '\r' is dropped).
  Result ReadLine(std::string *Line, Clock::time_point Deadline);
  // Writes Text and a newline. Never blocks past the deadline on a pipe,
  // whether or not its descriptor is non-blocking.
  Result WriteLine(const std::string &Text, Clock::time_point Deadline);
  void CloseWrite();

 private:
  // Moves the first complete line of Pending_ to *Line.
  Result TakePendingLine(std::string *Line);

  int         ReadFd_;
  int         WriteFd_;
  std::string Pending_;
};

// A line carries a frame unless it is empty or starts with '#'.
bool IsCommentLine(const std::string &Line);
// "# drop REASON" lines, the station's way of answering with nothing.
bool IsDropLine(const std::string &Line);
std::string DropLine(const std::string &Reason);

// A child process run with "/bin/sh -c COMMAND" in a process group of its
// own: we write to its standard input and read its standard output (both
// non-blocking on our side); its standard error is ours. It is killed when
// we die.
class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess();
  PeerProcess(const PeerProcess &) = delete;
  PeerProcess &operator=(const PeerProcess &) = delete;

  bool Start(const std::string &Command);
  LineChannel &Channel() { return *Channel_; }
  // Closes our end of its input and waits for it; the exit status (128 +
  // signal for a signal), or nullopt when it did not end by the deadline
  // (its process group is killed then).
  std::optional<int> Finish(Clock::time_point Deadline);
  // Kills its process group and reaps it.
  void Kill();

 private:
  pid_t                      Pid_ = -1;
  int                        ToPeer_ = -1;
  int                        FromPeer_ = -1;
  std::optional<LineChannel> Channel_;
};

}  // namespace wifi
