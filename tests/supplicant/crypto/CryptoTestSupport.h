// Shared helpers of the crypto unit tests: hex decoding into vectors, and a
// fixture parameter that runs a test on the accelerated path (whatever the
// processor offers) and again on the forced portable path.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <crypto/CpuFeatures.h>

#include "vectors/CryptoVectors.h"

using Bytes = std::vector<UINT8>;

inline Bytes FromHex(const char *Hex) {
  Bytes Out(crypto_vectors::TextLength(Hex) / 2 + 1);
  const UINTN Length = crypto_vectors::DecodeHex(Hex, Out.data(), Out.size());
  EXPECT_NE(Length, crypto_vectors::InvalidHex) << "bad hex in a vector: " << Hex;
  Out.resize(Length == crypto_vectors::InvalidHex ? 0 : Length);
  return Out;
}

inline Bytes FromText(const std::string &Text) { return Bytes(Text.begin(), Text.end()); }

inline Bytes RandomBytes(std::mt19937 &Generator, size_t Length) {
  Bytes Out(Length);
  for (auto &Octet : Out) {
    Octet = (UINT8)Generator();
  }
  return Out;
}

enum class CryptoPath { Default, Portable };

class CryptoPathTest : public ::testing::TestWithParam<CryptoPath> {
 protected:
  void SetUp() override { crypto_force_portable(GetParam() == CryptoPath::Portable); }
  void TearDown() override { crypto_force_portable(false); }
};

inline std::string CryptoPathName(const ::testing::TestParamInfo<CryptoPath> &Info) {
  return Info.param == CryptoPath::Portable ? "Portable" : "Default";
}

#define INSTANTIATE_CRYPTO_PATHS(Suite)                                                                     \
  INSTANTIATE_TEST_SUITE_P(Paths, Suite, ::testing::Values(CryptoPath::Default, CryptoPath::Portable), \
                           CryptoPathName)
