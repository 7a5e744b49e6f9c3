// MD5, SHA-1 and SHA-256 beyond the vector suite (CryptoSuiteTest): the
// element-list forms, split updates, and the context rules (status, fill
// limits, wiping).
#include <crypto/Md5.h>
#include <crypto/Sha1.h>
#include <crypto/Sha256.h>

#include "CryptoTestSupport.h"

using namespace crypto_vectors;

namespace {

Bytes MessageOf(const DigestVector &V) {
  Bytes Message;
  const std::string Text = V.Text;
  for (UINTN i = 0; i < V.Repeat; ++i) {
    Message.insert(Message.end(), Text.begin(), Text.end());
  }
  return Message;
}

Bytes Md5(const Bytes &Message) {
  md5_ctx Context;
  Bytes Digest(MD5_DIGEST_SIZE);
  EXPECT_EQ(md5_init(&Context), EFI_SUCCESS);
  EXPECT_EQ(md5_update(&Context, Message.data(), Message.size()), EFI_SUCCESS);
  EXPECT_EQ(md5_final(&Context, Digest.data()), EFI_SUCCESS);
  return Digest;
}

Bytes Sha1(const Bytes &Message) {
  sha1_ctx Context;
  Bytes Digest(SHA1_DIGEST_SIZE);
  sha1_init(&Context);
  sha1_update(&Context, Message.data(), Message.size());
  sha1_final(Digest.data(), &Context);
  return Digest;
}

Bytes Sha256(const Bytes &Message) {
  sha256_ctx Context;
  Bytes Digest(SHA256_DIGEST_SIZE);
  sha256_init(&Context);
  EXPECT_EQ(sha256_update(&Context, Message.data(), Message.size()), 0);
  EXPECT_EQ(sha256_final(&Context, Digest.data()), 0);
  return Digest;
}

// Element lists that cut the message at Cuts (sorted), including empty elements.
struct ElementList {
  std::vector<const UINT8 *> Address;
  std::vector<UINTN> Length;
  ElementList(const Bytes &Message, std::initializer_list<size_t> Cuts) {
    size_t Start = 0;
    for (size_t Cut : Cuts) {
      Address.push_back(Message.data() + Start);
      Length.push_back(Cut - Start);
      Start = Cut;
    }
    Address.push_back(Message.data() + Start);
    Length.push_back(Message.size() - Start);
  }
};

class HashVectors : public CryptoPathTest {};

TEST_P(HashVectors, Sha1MatchesFipsExamplesAndLastBlockLengths) {
  for (const DigestVector &V : Sha1Vectors) {
    const Bytes Message = MessageOf(V);
    EXPECT_EQ(Sha1(Message), FromHex(V.DigestHex)) << V.Name;
    const size_t Third = Message.size() / 3;
    const ElementList List(Message, {Third, Third, 2 * Third});
    Bytes Digest(SHA1_DIGEST_SIZE);
    EXPECT_EQ(sha1_digest_vec(List.Address.size(), List.Address.data(), List.Length.data(), Digest.data()), 0);
    EXPECT_EQ(Digest, FromHex(V.DigestHex)) << V.Name << " as four elements";
  }
}

TEST_P(HashVectors, Sha256MatchesFipsExamplesAndLastBlockLengths) {
  for (const DigestVector &V : Sha256Vectors) {
    const Bytes Message = MessageOf(V);
    EXPECT_EQ(Sha256(Message), FromHex(V.DigestHex)) << V.Name;
    const size_t Half = Message.size() / 2;
    const ElementList List(Message, {0, Half, Message.size()});
    Bytes Digest(SHA256_DIGEST_SIZE);
    EXPECT_EQ(sha256_digest_vec(List.Address.size(), List.Address.data(), List.Length.data(), Digest.data()), 0);
    EXPECT_EQ(Digest, FromHex(V.DigestHex)) << V.Name << " as four elements";
  }
}

// Every way of cutting a message into two or three updates gives the digest
// of the whole, across block boundaries and around the padding limit.
TEST_P(HashVectors, SplitUpdatesMatchOneUpdate) {
  std::mt19937 Generator(7);
  const Bytes Message = RandomBytes(Generator, 200);
  const Bytes Md5Whole = Md5(Message), Sha1Whole = Sha1(Message), Sha256Whole = Sha256(Message);
  for (size_t First = 0; First <= Message.size(); ++First) {
    const size_t Second = First + (Message.size() - First) / 3;
    const size_t Cuts[3] = {First, Second, Message.size()};
    md5_ctx Md5Context;
    sha1_ctx Sha1Context;
    sha256_ctx Sha256Context;
    md5_init(&Md5Context);
    sha1_init(&Sha1Context);
    sha256_init(&Sha256Context);
    size_t Start = 0;
    for (size_t Cut : Cuts) {
      md5_update(&Md5Context, Message.data() + Start, Cut - Start);
      sha1_update(&Sha1Context, Message.data() + Start, Cut - Start);
      sha256_update(&Sha256Context, Message.data() + Start, Cut - Start);
      Start = Cut;
    }
    Bytes Md5Digest(16), Sha1Digest(20), Sha256Digest(32);
    md5_final(&Md5Context, Md5Digest.data());
    sha1_final(Sha1Digest.data(), &Sha1Context);
    sha256_final(&Sha256Context, Sha256Digest.data());
    ASSERT_EQ(Md5Digest, Md5Whole) << "cut at " << First << ", " << Second;
    ASSERT_EQ(Sha1Digest, Sha1Whole) << "cut at " << First << ", " << Second;
    ASSERT_EQ(Sha256Digest, Sha256Whole) << "cut at " << First << ", " << Second;
  }
}

INSTANTIATE_CRYPTO_PATHS(HashVectors);

TEST(HashContext, Md5CarriesAnErrorStatusAndHashesNothing) {
  md5_ctx Context;
  md5_init(&Context);
  Context.status = EFI_DEVICE_ERROR;
  EXPECT_EQ(md5_update(&Context, "abc", 3), EFI_DEVICE_ERROR);
  EXPECT_EQ(Context.length, 0u);
  Bytes Digest(16, 0xee);
  EXPECT_EQ(md5_final(&Context, Digest.data()), EFI_DEVICE_ERROR);
  EXPECT_EQ(Digest, Bytes(16, 0xee));
}

TEST(HashContext, Md5RefusesAFillOutsideTheBlock) {
  md5_ctx Context;
  md5_init(&Context);
  Context.fill = 64;
  EXPECT_EQ(md5_update(&Context, "abc", 3), EFI_INVALID_PARAMETER);
  Bytes Digest(16, 0xee);
  EXPECT_EQ(md5_final(&Context, Digest.data()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Digest, Bytes(16, 0xee));
}

TEST(HashContext, Sha256RefusesFillsPastTheBlock) {
  sha256_ctx Context;
  sha256_init(&Context);
  Context.fill = 65;
  EXPECT_EQ(sha256_update(&Context, "abc", 3), -1);
  Bytes Digest(32, 0xee);
  Context.fill = 64;
  EXPECT_EQ(sha256_final(&Context, Digest.data()), -1);
  EXPECT_EQ(Digest, Bytes(32, 0xee));
}

// A context left holding a full, uncompressed block takes that block as
// message before the new input.
TEST(HashContext, Sha256UpdateCompressesABlockLeftFull) {
  const Bytes Head(64, 'a');
  sha256_ctx Context;
  sha256_init(&Context);
  std::copy(Head.begin(), Head.end(), Context.block);
  Context.fill = 64;
  ASSERT_EQ(sha256_update(&Context, "bc", 2), 0);
  Bytes Digest(32);
  ASSERT_EQ(sha256_final(&Context, Digest.data()), 0);
  Bytes Whole = Head;
  Whole.push_back('b');
  Whole.push_back('c');
  EXPECT_EQ(Digest, Sha256(Whole));
}

TEST(HashContext, Sha1KeepsTheBitCountInTwoWords) {
  sha1_ctx Context;
  sha1_init(&Context);
  Context.count[0] = 0xfffffff0u;  // 2^32 - 16 bits already counted
  const Bytes Three(3, 'x');
  sha1_update(&Context, Three.data(), Three.size());
  EXPECT_EQ(Context.count[0], 0x00000008u);
  EXPECT_EQ(Context.count[1], 1u);
}

TEST(HashContext, FinalWipesTheContext) {
  md5_ctx Md5Context;
  sha1_ctx Sha1Context;
  md5_init(&Md5Context);
  sha1_init(&Sha1Context);
  md5_update(&Md5Context, "secret", 6);
  sha1_update(&Sha1Context, "secret", 6);
  UINT8 Digest[20];
  md5_final(&Md5Context, Digest);
  sha1_final(Digest, &Sha1Context);
  const UINT8 *Md5Raw = reinterpret_cast<const UINT8 *>(&Md5Context);
  const UINT8 *Sha1Raw = reinterpret_cast<const UINT8 *>(&Sha1Context);
  EXPECT_EQ(Bytes(Md5Raw, Md5Raw + sizeof(Md5Context)), Bytes(sizeof(Md5Context), 0));
  EXPECT_EQ(Bytes(Sha1Raw, Sha1Raw + sizeof(Sha1Context)), Bytes(sizeof(Sha1Context), 0));
}

}  // namespace
