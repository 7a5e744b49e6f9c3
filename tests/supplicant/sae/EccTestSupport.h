// Helpers shared by the SAE layer tests: hex conversion, the P-256 domain
// parameters, and a fixture over the host UEFI environment whose pool
// accounting must come back to zero after every test.
#pragma once
#include <crypto/CpuFeatures.h>

#include <Library/UefiLib.h>
#include <TestSupport/HostEnvTest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Bignum.h"
#include "Ecc.h"
#include "FieldP256.h"
#include "Random.h"

namespace sae_test {

inline std::vector<UINT8> FromHex(const std::string &Hex) {
  std::vector<UINT8> Bytes;
  for (size_t i = 0; i + 1 < Hex.size(); i += 2) {
    Bytes.push_back(static_cast<UINT8>(std::stoul(Hex.substr(i, 2), nullptr, 16)));
  }
  return Bytes;
}

inline std::string ToHex(const mbedtls_mpi *X, UINTN Length = 32) {
  std::vector<UINT8> Bytes(Length);
  if (bignum_to_bytes(X, Bytes.data(), Length) != 0) {
    return "<too long>";
  }
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string Hex;
  for (UINT8 Byte : Bytes) {
    Hex += Digits[Byte >> 4];
    Hex += Digits[Byte & 15];
  }
  return Hex;
}

inline void SetHex(mbedtls_mpi *X, const std::string &Hex) {
  std::vector<UINT8> Bytes = FromHex(Hex);
  ASSERT_EQ(bignum_from_bytes(X, Bytes.data(), Bytes.size()), 0);
}

inline void SetInt(mbedtls_mpi *X, int Value) { ASSERT_EQ(mbedtls_mpi_lset(X, Value), 0); }

// SEC 2 / FIPS 186-4 domain parameters of P-256.
inline constexpr char P256_P[] = "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF";
inline constexpr char P256_A[] = "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC";
inline constexpr char P256_B[] = "5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B";
inline constexpr char P256_N[] = "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551";
inline constexpr char P256_GX[] = "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296";
inline constexpr char P256_GY[] = "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5";

// Seeds the driver-wide random-byte source from a counter starting at Seed
// (standing in for RDRAND), so a run's random values can be repeated.
inline UINT64 NextEntropyWord = 0;
inline BOOLEAN CountingEntropy(UINT64 *Value) {
  *Value = NextEntropyWord++;
  return TRUE;
}
inline void SeedRandomSource(UINT64 Seed) {
  NextEntropyWord = Seed;
  EFI_TIME Clock = {};
  RANDOM_ENTROPY_SOURCES Sources = {nullptr, nullptr, CountingEntropy, nullptr};
  ASSERT_EQ(RandomSourceInitializeFrom(Clock, Sources), RandomSourceCpuRandom);
}

// Runs Operation with allocation 1, 2, 3, ... of it failing until it
// succeeds; every failure must be reported as one and leave the pool as it
// was. Returns the number of allocations the successful run made. Past
// FailEachUpTo only every Stride-th allocation is failed: for long,
// repetitive allocation patterns such as the ladder of a point
// multiplication, where a stride coprime to the loop's period still reaches
// every allocation site.
template <typename OperationType>
UINT64 FailEachAllocation(HostEnv::Environment &Env, OperationType Operation, UINT64 FailEachUpTo = ~0ull,
                          UINT64 Stride = 1) {
  for (UINT64 N = 1; N < 1000000; N += N < FailEachUpTo ? 1 : Stride) {
    size_t LiveBefore = Env.Pool().TotalUsage().LiveBlocks;
    UINT64 InjectedBefore = Env.Pool().InjectedFailures();
    Env.Pool().FailNthAllocation(N);
    bool Succeeded = Operation();
    UINT64 Injected = Env.Pool().InjectedFailures() - InjectedBefore;
    Env.Pool().StopFailing();
    if (Succeeded) {
      EXPECT_EQ(Injected, 0u) << "success reported although allocation " << N << " failed";
      return N - 1;
    }
    EXPECT_EQ(Env.Pool().TotalUsage().LiveBlocks, LiveBefore) << "leak after failing allocation " << N;
  }
  ADD_FAILURE() << "never succeeded";
  return 0;
}

// Makes the P-256 field take its portable products for the length of a
// scope, whatever the processor offers.
class PortableProductsScope {
 public:
  PortableProductsScope() { crypto_force_portable(true); }
  ~PortableProductsScope() { crypto_force_portable(false); }
  PortableProductsScope(const PortableProductsScope &) = delete;
  PortableProductsScope &operator=(const PortableProductsScope &) = delete;
};

// The layer runs without a driver around it, so the fixture points the
// support library's service-table globals at the environment itself.
// Fixtures keep their mbedtls objects in Objects(), which is released before
// the environment checks for leaks.
template <typename ObjectsType>
class SaeLayerTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    gST = ST();
    gBS = BS();
    Objects_ = std::make_unique<ObjectsType>();
  }
  void TearDown() override {
    Objects_.reset();
    gST = nullptr;
    gBS = nullptr;
    HostEnvTest::TearDown();
  }
  ObjectsType &Objects() { return *Objects_; }

  template <typename OperationType>
  UINT64 FailEachAllocation(OperationType Operation, UINT64 FailEachUpTo = ~0ull, UINT64 Stride = 1) {
    return sae_test::FailEachAllocation(Env(), Operation, FailEachUpTo, Stride);
  }

 private:
  std::unique_ptr<ObjectsType> Objects_;
};

}  // namespace sae_test
