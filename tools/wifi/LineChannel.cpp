#include "LineChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace wifi {

LineChannel::Result LineChannel::ReadLine(std::string *Line, Clock::time_point Deadline) {
  for (;;) {
    size_t End = Pending_.find('\n');
    if (End != std::string::npos) {
      *Line = Pending_.substr(0, End);
      Pending_.erase(0, End + 1);
      if (!Line->empty() && Line->back() == '\r') {
        Line->pop_back();
      }
      return Result::Line;
    }
    auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
    if (Left <= 0) {
      return Result::TimedOut;
    }
    pollfd Poll = {ReadFd_, POLLIN, 0};
    int Ready = poll(&Poll, 1, (int)std::min<long long>(Left, 1000));
    if (Ready < 0 && errno != EINTR) {
      return Result::Failed;
    }
    if (Ready <= 0) {
      continue;
    }
    char Buffer[4096];
    ssize_t Count = read(ReadFd_, Buffer, sizeof(Buffer));
    if (Count < 0 && errno == EINTR) {
      continue;
    }
    if (Count < 0) {
      return Result::Failed;
    }
    if (Count == 0) {
      if (Pending_.empty()) {
        return Result::Closed;
      }
      *Line = Pending_;  // a last line without its newline
      Pending_.clear();
      return Result::Line;
    }
    Pending_.append(Buffer, (size_t)Count);
  }
}

bool LineChannel::WriteLine(const std::string &Text) {
  if (WriteFd_ < 0) {
    return false;
  }
  std::string Data = Text + "\n";
  size_t Done = 0;
  while (Done < Data.size()) {
    ssize_t Count = write(WriteFd_, Data.data() + Done, Data.size() - Done);
    if (Count < 0 && errno == EINTR) {
      continue;
    }
    if (Count <= 0) {
      return false;
    }
    Done += (size_t)Count;
  }
  return true;
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
  Pid_ = fork();
  if (Pid_ < 0) {
    for (int Fd : {In[0], In[1], Out[0], Out[1]}) {
      close(Fd);
    }
    return false;
  }
  if (Pid_ == 0) {
    setpgid(0, 0);  // its own group, so a kill reaches whatever the shell started
    dup2(In[0], STDIN_FILENO);
    dup2(Out[1], STDOUT_FILENO);
    execl("/bin/sh", "sh", "-c", Command.c_str(), (char *)nullptr);
    _exit(127);
  }
  close(In[0]);
  close(Out[1]);
  ToPeer_ = In[1];
  FromPeer_ = Out[0];
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
    int Status = 0;
    pid_t Done = waitpid(Pid_, &Status, WNOHANG);
    if (Done == Pid_) {
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
