// Keys and certificates through sup_mbedtls with the driver's configuration:
// every encrypted key form a user may hand in, the certificate signatures
// the chain check must know, and the text mbedtls formats with our snprintf.
#include <gtest/gtest.h>

#include <string>

#include "TlsTestSupport.h"
#include "mbedtls/error.h"
#include "mbedtls/oid.h"
#include "mbedtls/pk.h"
#include "mbedtls/x509_crt.h"

namespace {

using namespace tls_test;

int FixedRandom(void *, unsigned char *Out, size_t Length) {
  for (size_t Index = 0; Index < Length; ++Index) {
    Out[Index] = static_cast<unsigned char>(Index * 7 + 1);
  }
  return 0;
}

class Certificate {
 public:
  Certificate() { mbedtls_x509_crt_init(&Crt_); }
  ~Certificate() { mbedtls_x509_crt_free(&Crt_); }
  Certificate(const Certificate &) = delete;
  Certificate &operator=(const Certificate &) = delete;
  int Parse(const void *Data, size_t Size) {
    return mbedtls_x509_crt_parse(&Crt_, static_cast<const unsigned char *>(Data), Size);
  }
  mbedtls_x509_crt *Get() { return &Crt_; }

 private:
  mbedtls_x509_crt Crt_;
};

class PrivateKey {
 public:
  PrivateKey() { mbedtls_pk_init(&Pk_); }
  ~PrivateKey() { mbedtls_pk_free(&Pk_); }
  PrivateKey(const PrivateKey &) = delete;
  PrivateKey &operator=(const PrivateKey &) = delete;
  int Parse(const void *Data, size_t Size, const char *PassPhrase) {
    return mbedtls_pk_parse_key(&Pk_, static_cast<const unsigned char *>(Data), Size,
                                reinterpret_cast<const unsigned char *>(PassPhrase),
                                PassPhrase == nullptr ? 0 : std::char_traits<char>::length(PassPhrase), FixedRandom,
                                nullptr);
  }
  mbedtls_pk_context *Get() { return &Pk_; }

 private:
  mbedtls_pk_context Pk_;
};

using CredentialTest = PoolTest;

struct KeyForm {
  const char *Name;
  const void *Key;
  size_t KeySize;
  const char *Cert;
  size_t CertSize;
  mbedtls_pk_type_t Type;
  // What a missing pass phrase reads as: PEM names the encryption in its
  // header; a DER key without pass phrase is tried as every plain format and
  // fails as none of them.
  int WithoutPassPhrase;
};

const KeyForm EncryptedKeys[] = {
    {"PKCS#8 PBES2 AES-256-CBC HMAC-SHA-256 (PEM)", EcClientKeyPbes2Sha256, sizeof(EcClientKeyPbes2Sha256),
     EcClientCert, sizeof(EcClientCert), MBEDTLS_PK_ECKEY, MBEDTLS_ERR_PK_PASSWORD_REQUIRED},
    {"PKCS#8 PBES2 AES-128-CBC HMAC-SHA-1 (PEM)", RsaClientKeyPbes2Sha1, sizeof(RsaClientKeyPbes2Sha1), RsaClientCert,
     sizeof(RsaClientCert), MBEDTLS_PK_RSA, MBEDTLS_ERR_PK_PASSWORD_REQUIRED},
    {"PKCS#8 PBES2 AES-256-CBC HMAC-SHA-256 (DER)", RsaClientKeyPbes2Der, sizeof(RsaClientKeyPbes2Der),
     RsaClientCert, sizeof(RsaClientCert), MBEDTLS_PK_RSA, MBEDTLS_ERR_PK_KEY_INVALID_FORMAT},
    {"legacy PEM Proc-Type 4,ENCRYPTED AES-256-CBC", RsaClientKeyLegacyEncrypted,
     sizeof(RsaClientKeyLegacyEncrypted), RsaClientCert, sizeof(RsaClientCert), MBEDTLS_PK_RSA,
     MBEDTLS_ERR_PK_PASSWORD_REQUIRED},
};

TEST_F(CredentialTest, EveryEncryptedKeyFormOpensWithThePassPhraseAndMatchesItsCertificate) {
  for (const KeyForm &Form : EncryptedKeys) {
    SCOPED_TRACE(Form.Name);
    PrivateKey Key;
    ASSERT_EQ(Key.Parse(Form.Key, Form.KeySize, TlsKeyPassPhrase), 0);
    EXPECT_EQ(mbedtls_pk_get_type(Key.Get()), Form.Type);
    Certificate Cert;
    ASSERT_EQ(Cert.Parse(Form.Cert, Form.CertSize), 0);
    EXPECT_EQ(mbedtls_pk_check_pair(&Cert.Get()->pk, Key.Get(), FixedRandom, nullptr), 0);
  }
  // openssl genpkey -aes256 writes PBES2 too.
  PrivateKey Generated;
  EXPECT_EQ(Generated.Parse(EcGenpkeyAes256Key, sizeof(EcGenpkeyAes256Key), TlsKeyPassPhrase), 0);
  EXPECT_EQ(mbedtls_pk_get_bitlen(Generated.Get()), 256u);
}

TEST_F(CredentialTest, AWrongOrMissingPassPhraseIsReportedAsSuch) {
  for (const KeyForm &Form : EncryptedKeys) {
    SCOPED_TRACE(Form.Name);
    PrivateKey Wrong;
    EXPECT_EQ(Wrong.Parse(Form.Key, Form.KeySize, "not-the-pass-phrase"), MBEDTLS_ERR_PK_PASSWORD_MISMATCH);
    PrivateKey Missing;
    EXPECT_EQ(Missing.Parse(Form.Key, Form.KeySize, nullptr), Form.WithoutPassPhrase);
  }
}

TEST_F(CredentialTest, PlainKeysInPemAndDerMatchTheirCertificates) {
  PrivateKey Sec1;
  ASSERT_EQ(Sec1.Parse(EcClientKeySec1Der, sizeof(EcClientKeySec1Der), nullptr), 0);
  Certificate Der;
  ASSERT_EQ(Der.Parse(EcClientCertDer, sizeof(EcClientCertDer)), 0);
  EXPECT_EQ(mbedtls_pk_check_pair(&Der.Get()->pk, Sec1.Get(), FixedRandom, nullptr), 0);
  // A key of another certificate does not pair.
  PrivateKey Other;
  ASSERT_EQ(Other.Parse(EcServerKey, sizeof(EcServerKey), nullptr), 0);
  EXPECT_NE(mbedtls_pk_check_pair(&Der.Get()->pk, Other.Get(), FixedRandom, nullptr), 0);
}

TEST_F(CredentialTest, ChainsVerifyUnderTheirRootsOnly) {
  Certificate EcRoot, RsaRoot, EcLeaf, PssLeaf, RogueLeaf;
  ASSERT_EQ(EcRoot.Parse(EcRootCert, sizeof(EcRootCert)), 0);
  ASSERT_EQ(RsaRoot.Parse(RsaRootCert, sizeof(RsaRootCert)), 0);
  ASSERT_EQ(EcLeaf.Parse(EcServerCert, sizeof(EcServerCert)), 0);
  ASSERT_EQ(PssLeaf.Parse(RsaServerCert, sizeof(RsaServerCert)), 0);
  ASSERT_EQ(RogueLeaf.Parse(RogueServerCert, sizeof(RogueServerCert)), 0);

  // P-384 root, ECDSA with SHA-384 over a P-256 leaf.
  uint32_t Flags = ~0u;
  EXPECT_EQ(mbedtls_x509_crt_verify(EcLeaf.Get(), EcRoot.Get(), nullptr, ServerName, &Flags, nullptr, nullptr), 0);
  EXPECT_EQ(Flags, 0u);
  mbedtls_md_type_t Md = MBEDTLS_MD_NONE;
  mbedtls_pk_type_t Pk = MBEDTLS_PK_NONE;
  ASSERT_EQ(mbedtls_oid_get_sig_alg(&EcLeaf.Get()->sig_oid, &Md, &Pk), 0);
  EXPECT_EQ(Md, MBEDTLS_MD_SHA384);
  EXPECT_EQ(Pk, MBEDTLS_PK_ECDSA);
  // RSA-2048 root, RSASSA-PSS over the server leaf.
  ASSERT_EQ(mbedtls_oid_get_sig_alg(&PssLeaf.Get()->sig_oid, &Md, &Pk), 0);
  EXPECT_EQ(Pk, MBEDTLS_PK_RSASSA_PSS);
  EXPECT_EQ(mbedtls_x509_crt_verify(PssLeaf.Get(), RsaRoot.Get(), nullptr, ServerName, &Flags, nullptr, nullptr), 0);
  // The rogue leaf has the right names but not the root's signature.
  EXPECT_EQ(mbedtls_x509_crt_verify(RogueLeaf.Get(), EcRoot.Get(), nullptr, ServerName, &Flags, nullptr, nullptr),
            MBEDTLS_ERR_X509_CERT_VERIFY_FAILED);
  EXPECT_EQ(Flags, static_cast<uint32_t>(MBEDTLS_X509_BADCERT_NOT_TRUSTED));
  // A leaf under the wrong root, and a name the leaf does not carry.
  EXPECT_EQ(mbedtls_x509_crt_verify(EcLeaf.Get(), RsaRoot.Get(), nullptr, ServerName, &Flags, nullptr, nullptr),
            MBEDTLS_ERR_X509_CERT_VERIFY_FAILED);
  EXPECT_NE(Flags & MBEDTLS_X509_BADCERT_NOT_TRUSTED, 0u);
  EXPECT_EQ(mbedtls_x509_crt_verify(EcLeaf.Get(), EcRoot.Get(), nullptr, "other.test", &Flags, nullptr, nullptr),
            MBEDTLS_ERR_X509_CERT_VERIFY_FAILED);
  EXPECT_EQ(Flags, static_cast<uint32_t>(MBEDTLS_X509_BADCERT_CN_MISMATCH));
}

// Without MBEDTLS_HAVE_TIME_DATE mbedtls never compares validity dates with
// a clock: the driver does, from the fields parsed here.
TEST_F(CredentialTest, ValidityIsParsedForTheDriversOwnClockCheck) {
  Certificate Leaf;
  ASSERT_EQ(Leaf.Parse(EcServerCert, sizeof(EcServerCert)), 0);
  const mbedtls_x509_time &From = Leaf.Get()->valid_from;
  const mbedtls_x509_time &To = Leaf.Get()->valid_to;
  EXPECT_GE(From.year, 2025);
  EXPECT_GE(To.year - From.year, 99);  // 36500 days
  EXPECT_TRUE(From.mon >= 1 && From.mon <= 12 && From.day >= 1 && From.day <= 31);
  EXPECT_EQ(mbedtls_x509_time_is_past(&From), 0);
  EXPECT_EQ(mbedtls_x509_time_is_future(&To), 0);
}

TEST_F(CredentialTest, NamesAndReportsAreFormattedThroughOurSnprintf) {
  Certificate Leaf;
  ASSERT_EQ(Leaf.Parse(RsaServerCert, sizeof(RsaServerCert)), 0);
  char Text[2048];
  ASSERT_GT(mbedtls_x509_dn_gets(Text, sizeof(Text), &Leaf.Get()->subject), 0);
  EXPECT_STREQ(Text, "O=Test Lab, CN=radius.test");
  ASSERT_GT(mbedtls_x509_crt_info(Text, sizeof(Text), "  ", Leaf.Get()), 0);
  std::string Info = Text;
  EXPECT_NE(Info.find("  issuer name       : O=Test Lab, CN=Test RSA Root\n"), std::string::npos) << Info;
  EXPECT_NE(Info.find("  signed using      : RSASSA-PSS (SHA256, MGF1-SHA256, 0x20)\n"), std::string::npos) << Info;
  EXPECT_NE(Info.find("  RSA key size      : 2048 bits\n"), std::string::npos) << Info;
  char Date[32];
  std::snprintf(Date, sizeof(Date), "%04d-%02d-%02d %02d:%02d:%02d", Leaf.Get()->valid_to.year,
                Leaf.Get()->valid_to.mon, Leaf.Get()->valid_to.day, Leaf.Get()->valid_to.hour,
                Leaf.Get()->valid_to.min, Leaf.Get()->valid_to.sec);
  EXPECT_NE(Info.find(std::string("  expires on        : ") + Date), std::string::npos) << Info;
  ASSERT_GT(mbedtls_x509_crt_verify_info(Text, sizeof(Text), "! ", MBEDTLS_X509_BADCERT_NOT_TRUSTED), 0);
  EXPECT_STREQ(Text, "! The certificate is not correctly signed by the trusted CA\n");
}

// Every allocation the parse of an encrypted key makes may fail: each
// failure is reported, and nothing stays allocated.
TEST_F(CredentialTest, AFailedAllocationWhileOpeningAKeyIsReportedAndLeaksNothing) {
  for (UINT64 N = 1;; ++N) {
    ASSERT_LT(N, 10000u) << "never succeeded";
    size_t LiveBefore = Env().Pool().TotalUsage().LiveBlocks;
    UINT64 InjectedBefore = Env().Pool().InjectedFailures();
    Env().Pool().FailNthAllocation(N);
    int Result;
    {
      PrivateKey Key;
      Result = Key.Parse(RsaClientKeyPbes2Sha1, sizeof(RsaClientKeyPbes2Sha1), TlsKeyPassPhrase);
    }
    UINT64 Injected = Env().Pool().InjectedFailures() - InjectedBefore;
    Env().Pool().StopFailing();
    EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, LiveBefore) << "leak after failing allocation " << N;
    if (Injected == 0) {
      EXPECT_EQ(Result, 0);
      break;
    }
    EXPECT_NE(Result, 0) << "success reported although allocation " << N << " failed";
  }
}

}  // namespace
