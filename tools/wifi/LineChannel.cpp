#include "LineChannel.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace wifi {
namespace {

// Waits until Fd is ready for Events (or hung up: the read or write that
// follows tells) or the deadline passes.
LineChannel::Result WaitUntilReady(int Fd, short Events, Clock::time_point Deadline) {
  for (;;) {
    auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
    if (Left <= 0) {
      return LineChannel::Result::TimedOut;
    }
    pollfd Poll = {Fd, Events, 0};
    int Ready = poll(&Poll, 1, (int)std::min<long long>(Left, 1000));
    if (Ready > 0) {
      return LineChannel::Result::Ok;
    }
    if (Ready < 0 && errno != EINTR) {
      return LineChannel::Result::Failed;
    }
  }
}

bool SetNonBlocking(int Fd) {
  int Flags = fcntl(Fd, F_GETFL);
  return Flags >= 0 && fcntl(Fd, F_SETFL, Flags | O_NONBLOCK) == 0;
}

}  // namespace

LineChannel::Result LineChannel::TakePendingLine(std::string *Line) {
  size_t End = Pending_.find('\n');
  if (End == std::string::npos) {
    return Pending_.size() > kMaxLineLength ? Result::TooLong : Result::Closed;
  }
  if (End > kMaxLineLength) {
    return Result::TooLong;
  }
  *Line = Pending_.substr(0, End);
  Pending_.erase(0, End + 1);
  if (!Line->empty() && Line->back() == '\r') {
    Line->pop_back();
  }
  return Result::Ok;
}

LineChannel::Result LineChannel::ReadLine(std::string *Line, Clock::time_point Deadline) {
  for (;;) {
    // Closed here only means no complete line is pending yet.
    Result Pending = TakePendingLine(Line);
    if (Pending != Result::Closed) {
      return Pending;
    }
    Result Wait = WaitUntilReady(ReadFd_, POLLIN, Deadline);
    if (Wait != Result::Ok) {
      return Wait;
    }
    char Buffer[4096];
    ssize_t Count = read(ReadFd_, Buffer, sizeof(Buffer));
    if (Count < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (Count < 0) {
      return Result::Failed;
    }
    if (Count == 0) {
      if (Pending_.empty()) {
        return Result::Closed;
      }
      *Line = Pending_;  // a last line without its newline, no longer than the limit
      Pending_.clear();
      return Result::Ok;
    }
    Pending_.append(Buffer, (size_t)Count);
  }
}

LineChannel::Result LineChannel::WriteLine(const std::string &Text, Clock::time_point Deadline) {
  if (WriteFd_ < 0) {
    return Result::Closed;
  }
  std::string Data = Text + "\n";
  size_t Done = 0;
  while (Done < Data.size()) {
    Result Wait = WaitUntilReady(WriteFd_, POLLOUT, Deadline);
    if (Wait != Result::Ok) {
      return Wait;
    }
    // A pipe that polls writable takes PIPE_BUF bytes without blocking.
    size_t Chunk = std::min(Data.size() - Done, (size_t)PIPE_BUF);
    ssize_t Count = write(WriteFd_, Data.data() + Done, Chunk);
    if (Count < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (Count < 0) {
      return errno == EPIPE ? Result::Closed : Result::Failed;
    }
    Done += (size_t)Count;
  }
  return Result::Ok;
}

void LineChannel::CloseWrite() {
  if (WriteFd_ >= 0) {
    close(WriteFd_);
    WriteFd_ = -1;
  }
}

bool IsCommentLine(const std::string &Line) { return Line.empty() || Line[0] == '#'; }

bool IsDropLine(const std::string &Line) { return Line.rfind("# drop", 0) == 0; }

std::string DropLine(const std::string &Reason) { return "# drop " + Reason; }

PeerProcess::~PeerProcess() { Kill(); }

bool PeerProcess::Start(const std::string &Command) {
  int In[2], Out[2];
  if (pipe2(In, O_CLOEXEC) != 0) {
    return false;
  }
  if (pipe2(Out, O_CLOEXEC) != 0) {
    close(In[0]);
    close(In[1]);
    return false;
  }
  pid_t Parent = getpid();
  Pid_ = fork();
  if (Pid_ < 0) {
    for (int Fd : {In[0], In[1], Out[0], Out[1]}) {
      close(Fd);
    }
    return false;
  }
  if (Pid_ == 0) {
    setpgid(0, 0);  // its own group, so a kill reaches whatever the shell started
    // Should we die without cleaning up, the shell goes with us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != Parent) {
      _exit(127);
    }
    dup2(In[0], STDIN_FILENO);
    dup2(Out[1], STDOUT_FILENO);
    execl("/bin/sh", "sh", "-c", Command.c_str(), (char *)nullptr);
    _exit(127);
  }
  setpgid(Pid_, Pid_);  // no kill may miss the group for want of it existing yet
  close(In[0]);
  close(Out[1]);
  ToPeer_ = In[1];
  FromPeer_ = Out[0];
  // Our ends never block: every wait is a poll against the exchange's deadline.
  SetNonBlocking(ToPeer_);
  SetNonBlocking(FromPeer_);
  Channel_.emplace(FromPeer_, ToPeer_);
  return true;
}

std::optional<int> PeerProcess::Finish(Clock::time_point Deadline) {
  if (Pid_ < 0) {
    return std::nullopt;
  }
  Channel_->CloseWrite();
  ToPeer_ = -1;
  for (;;) {
    // Looked at without reaping: until it is reaped its process group keeps
    // its number, so killing what the shell left behind cannot hit a stranger.
    siginfo_t Info = {};
    if (waitid(P_PID, (id_t)Pid_, &Info, WEXITED | WNOHANG | WNOWAIT) == 0 && Info.si_pid == Pid_) {
      int Status = 0;
      kill(-Pid_, SIGKILL);
      waitpid(Pid_, &Status, 0);
      Pid_ = -1;
      close(FromPeer_);
      FromPeer_ = -1;
      return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    }
    if (Clock::now() >= Deadline) {
      Kill();
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void PeerProcess::Kill() {
  if (Channel_) {
    Channel_->CloseWrite();
  }
  if (Pid_ > 0) {
    kill(-Pid_, SIGKILL);
    waitpid(Pid_, nullptr, 0);
    Pid_ = -1;
  }
  if (FromPeer_ >= 0) {
    close(FromPeer_);
    FromPeer_ = -1;
  }
}

}  // namespace wifi
