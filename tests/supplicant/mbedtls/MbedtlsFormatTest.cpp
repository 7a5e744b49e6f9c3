// sup_mbedtls_snprintf against the C library's snprintf, for the
// conversions mbedtls's X.509 and TLS modules use.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SupMbedtlsConfig.h"

namespace {

template <typename... Args>
std::string Ours(size_t Size, const char *Format, Args... Arguments) {
  std::string Buffer(Size + 8, '#');
  int Length = sup_mbedtls_snprintf(Buffer.data(), Size, Format, Arguments...);
  EXPECT_EQ(Buffer.substr(Size), std::string(8, '#')) << "wrote past the buffer for " << Format;
  return std::to_string(Length) + ":" + (Size == 0 ? std::string() : std::string(Buffer.c_str()));
}

template <typename... Args>
std::string Libc(size_t Size, const char *Format, Args... Arguments) {
  std::string Buffer(Size + 8, '#');
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  int Length = std::snprintf(Buffer.data(), Size, Format, Arguments...);
#pragma GCC diagnostic pop
  return std::to_string(Length) + ":" + (Size == 0 ? std::string() : std::string(Buffer.c_str()));
}

// "<returned length>:<buffer text>" must be the same from both.
template <typename... Args>
void ExpectLikeLibc(size_t Size, const char *Format, Args... Arguments) {
  EXPECT_EQ(Ours(Size, Format, Arguments...), Libc(Size, Format, Arguments...)) << "format \"" << Format << "\"";
}

TEST(MbedtlsFormat, DecimalAndHexadecimalAsMbedtlsWritesThem) {
  ExpectLikeLibc(64, "%d", 0);
  ExpectLikeLibc(64, "%d", -2147483647 - 1);
  ExpectLikeLibc(64, "%u.%u.%u.%u", 192u, 0u, 2u, 255u);
  ExpectLikeLibc(64, "%02X%s", 0x0au, ":");
  ExpectLikeLibc(64, "%02x", 0xabu);
  ExpectLikeLibc(64, "%04X", 0xbeefu);
  ExpectLikeLibc(64, "%04x", 0x1u);
  ExpectLikeLibc(64, "%X%X:%X%X", 0u, 15u, 1u, 0u);
  ExpectLikeLibc(64, "%04d-%02d-%02d %02d:%02d:%02d", 2125, 1, 9, 0, 5, 59);
  ExpectLikeLibc(64, "%ld|%lu|%lld|%llu|%zu", -5L, 7UL, -9000000000LL, 18446744073709551615ULL,
                           static_cast<size_t>(42));
  ExpectLikeLibc(64, "[%5d|%-5d|%05d|%.3d|%8.3d]", 42, 42, -42, 7, -7);
  ExpectLikeLibc(64, "[%.0d]", 0);
}

TEST(MbedtlsFormat, StringsCharactersAndPercent) {
  ExpectLikeLibc(128, "\n%ssubject name      : %s", "  ", "CN=radius.test");
  ExpectLikeLibc(64, "%-18s: %d bits", "EC key size", 256);
  ExpectLikeLibc(64, "[%10s|%.3s|%*s|%-*s|%.*s]", "right", "truncated", 4, "a", 3, "b", 2, "xyz");
  ExpectLikeLibc(64, "%c.%u", 'v', 3u);
  ExpectLikeLibc(64, "100%% of %s", "it");
}

TEST(MbedtlsFormat, TruncatesTerminatesAndReportsTheFullLength) {
  ExpectLikeLibc(5, "%s=%d", "serial", 12345);
  ExpectLikeLibc(1, "%s", "anything");
  ExpectLikeLibc(0, "%d", 123);
  ExpectLikeLibc(3, "%02X", 0x1fu);
  // A zero-sized buffer is not touched at all.
  char Untouched = 'x';
  EXPECT_EQ(sup_mbedtls_snprintf(&Untouched, 0, "%s", "abc"), 3);
  EXPECT_EQ(Untouched, 'x');
}

}  // namespace
