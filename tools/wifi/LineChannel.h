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

class LineChannel {
 public:
  LineChannel(int ReadFd, int WriteFd) : ReadFd_(ReadFd), WriteFd_(WriteFd) {}

  enum class Result { Line, Closed, TimedOut, Failed };
  // Reads one line (without its newline; a trailing '\r' is dropped).
  Result ReadLine(std::string *Line, Clock::time_point Deadline);
  // Writes Text and a newline; false when the peer has gone.
  bool WriteLine(const std::string &Text);
  void CloseWrite();

 private:
  int         ReadFd_;
  int         WriteFd_;
  std::string Pending_;
};

// A line carries a frame unless it is empty or starts with '#'.
bool IsCommentLine(const std::string &Line);
// "# drop REASON" lines, the station's way of answering with nothing.
bool IsDropLine(const std::string &Line);
std::string DropLine(const std::string &Reason);

// A child process run with "/bin/sh -c COMMAND": we write to its standard
// input and read its standard output; its standard error is ours.
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
  // (it is killed then).
  std::optional<int> Finish(Clock::time_point Deadline);
  void Kill();

 private:
  pid_t                      Pid_ = -1;
  int                        ToPeer_ = -1;
  int                        FromPeer_ = -1;
  std::optional<LineChannel> Channel_;
};

}  // namespace wifi
