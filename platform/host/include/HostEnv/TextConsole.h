// A captured EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL: everything written through
// OutputString is kept as UTF-8 and optionally echoed to a host stream.
#pragma once

#include <uefi/Protocol/SimpleTextOut.h>

#include <cstdio>
#include <string>

namespace HostEnv {

class TextConsole {
 public:
  TextConsole(std::FILE *EchoStream, bool Echo);
  TextConsole(const TextConsole &) = delete;
  TextConsole &operator=(const TextConsole &) = delete;

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Protocol() { return &Instance_.Protocol; }

  const std::string &Text() const { return Text_; }
  // Returns the text captured so far and starts a new capture.
  std::string TakeText();
  void        Clear() { Text_.clear(); }
  void        SetEcho(bool Echo) { Echo_ = Echo; }

  // What OutputString does once the owner is known.
  void Append(const CHAR16 *String);

  // The console that owns This (one of ours by construction).
  static TextConsole &FromProtocol(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This);

 private:
  struct Instance {
    EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol;  // first: This points here
    TextConsole                    *Owner;
  };
  Instance                    Instance_;
  EFI_SIMPLE_TEXT_OUTPUT_MODE Mode_;
  std::FILE                  *EchoStream_;
  bool                        Echo_;
  std::string                 Text_;
};

}  // namespace HostEnv
