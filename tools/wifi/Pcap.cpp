#include "Pcap.h"

#include <chrono>

namespace wifi {
namespace {

void PutLe32(std::FILE *File, std::uint32_t Value) {
  std::uint8_t Bytes[4] = {(std::uint8_t)Value, (std::uint8_t)(Value >> 8), (std::uint8_t)(Value >> 16),
                           (std::uint8_t)(Value >> 24)};
  std::fwrite(Bytes, 1, 4, File);
}

void PutLe16(std::FILE *File, std::uint16_t Value) {
  std::uint8_t Bytes[2] = {(std::uint8_t)Value, (std::uint8_t)(Value >> 8)};
  std::fwrite(Bytes, 1, 2, File);
}

constexpr std::uint32_t Magic = 0xA1B2C3D4;  // microsecond time stamps
constexpr std::uint32_t SnapLength = 65535;

}  // namespace

PcapWriter::~PcapWriter() { Close(); }

bool PcapWriter::Open(const std::string &Path) {
  Close();
  File_ = std::fopen(Path.c_str(), "wb");
  if (File_ == nullptr) {
    return false;
  }
  PutLe32(File_, Magic);
  PutLe16(File_, 2);  // version 2.4
  PutLe16(File_, 4);
  PutLe32(File_, 0);  // time zone
  PutLe32(File_, 0);  // accuracy
  PutLe32(File_, SnapLength);
  PutLe32(File_, kPcapLinkTypeIeee80211);
  return std::ferror(File_) == 0;
}

void PcapWriter::Write(const Bytes &Frame) {
  if (File_ == nullptr) {
    return;
  }
  auto Now = std::chrono::system_clock::now().time_since_epoch();
  std::uint64_t Microseconds = (std::uint64_t)std::chrono::duration_cast<std::chrono::microseconds>(Now).count();
  if (Microseconds <= LastMicroseconds_) {
    Microseconds = LastMicroseconds_ + 1;
  }
  LastMicroseconds_ = Microseconds;
  PutLe32(File_, (std::uint32_t)(Microseconds / 1000000));
  PutLe32(File_, (std::uint32_t)(Microseconds % 1000000));
  PutLe32(File_, (std::uint32_t)Frame.size());
  PutLe32(File_, (std::uint32_t)Frame.size());
  std::fwrite(Frame.data(), 1, Frame.size(), File_);
}

bool PcapWriter::Close() {
  if (File_ == nullptr) {
    return true;
  }
  bool Ok = std::ferror(File_) == 0;
  Ok = std::fclose(File_) == 0 && Ok;
  File_ = nullptr;
  return Ok;
}

}  // namespace wifi
