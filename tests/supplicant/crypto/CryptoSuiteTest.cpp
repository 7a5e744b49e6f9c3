// Runs the UEFI test application's crypto suite on the host through the real
// TestReporter: every line must pass, and every vector must have its check.
#include <string>
#include <vector>

#include "CryptoSuite.h"
#include "CryptoTestSupport.h"

using namespace crypto_vectors;

namespace {

void Collect(const CHAR8 *Line, void *Context) { static_cast<std::vector<std::string> *>(Context)->push_back(Line); }

size_t ChecksPerPass() {
  return std::size(Md5Vectors) + std::size(Sha1Vectors) + std::size(Sha256Vectors) + std::size(HmacMd5Vectors) +
         std::size(HmacSha1Vectors) + std::size(HmacSha256Vectors) + std::size(PrfVectors) +
         std::size(Pbkdf2Vectors) + std::size(PskVectors) + std::size(KdfVectors) + 2 * std::size(AesVectors) +
         std::size(CmacVectors) + 1 /* subkeys */ + std::size(UnwrapVectors) + 1 /* corrupted */ +
         std::size(Rc4Vectors) + std::size(DrbgVectors);
}

TEST(CryptoSuite, EveryVectorPassesOnEveryPath) {
  std::vector<std::string> Lines;
  TestReporter Report(Collect, &Lines);
  RunCryptoSuite(Report);
  size_t Passes = 0;
  for (const std::string &Line : Lines) {
    EXPECT_NE(Line.rfind("FAIL", 0), 0u) << Line;
    Passes += Line.rfind("PASS crypto.", 0) == 0;
  }
  const size_t Paths = (crypto_cpu_has_sha() || crypto_cpu_has_aes()) ? 2 : 1;
  EXPECT_EQ(Passes, Paths * ChecksPerPass());
  EXPECT_EQ(Report.Failed(), 0u);
  EXPECT_FALSE(crypto_portable_forced()) << "the suite left the portable path forced";
}

TEST(CryptoSuite, CheckNamesFollowTheGroupAndVector) {
  std::vector<std::string> Lines;
  TestReporter Report(Collect, &Lines);
  RunCryptoSuite(Report);
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), "PASS crypto.sha256.fips-abc"), Lines.end());
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), "PASS crypto.psk.annex-j-1"), Lines.end());
}

}  // namespace
