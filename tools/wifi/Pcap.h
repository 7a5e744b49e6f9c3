// Classic pcap files (not pcapng) with link type 105, IEEE 802.11 frames
// without radiotap header and without FCS.
#pragma once
#include <cstdio>
#include <string>

#include "Hex.h"

namespace wifi {

constexpr std::uint32_t kPcapLinkTypeIeee80211 = 105;

class PcapWriter {
 public:
  PcapWriter() = default;
  ~PcapWriter();
  PcapWriter(const PcapWriter &) = delete;
  PcapWriter &operator=(const PcapWriter &) = delete;

  // Creates the file and writes the global header; false on failure.
  bool Open(const std::string &Path);
  bool IsOpen() const { return File_ != nullptr; }
  // One record, time-stamped now (never earlier than the previous record).
  void Write(const Bytes &Frame);
  bool Close();

 private:
  std::FILE    *File_ = nullptr;
  std::uint64_t LastMicroseconds_ = 0;
};

}  // namespace wifi
