// Programming errors the environment detects in the code under test (freeing
// memory it never handed out, lowering the TPL with RaiseTPL, ...). Real
// firmware would assert or corrupt memory; here each one is recorded,
// printed on stderr and turned into a test failure by the test fixture.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace HostEnv {

class FaultLog {
 public:
  void Report(std::string Message) {
    std::fprintf(stderr, "HostEnv fault: %s\n", Message.c_str());
    Faults_.push_back(std::move(Message));
  }
  const std::vector<std::string> &All() const { return Faults_; }
  std::vector<std::string> Take() { return std::exchange(Faults_, {}); }

 private:
  std::vector<std::string> Faults_;
};

}  // namespace HostEnv
