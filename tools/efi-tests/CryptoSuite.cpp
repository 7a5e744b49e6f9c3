// Freestanding: uses only the vectors header, the crypto library and the
// test reporter, so the same code runs in the EFI image and on the host.
#include "CryptoSuite.h"

#include <crypto/Aes.h>
#include <crypto/AesCmac.h>
#include <crypto/AesKeyWrap.h>
#include <crypto/CpuFeatures.h>
#include <crypto/Hmac.h>
#include <crypto/HmacDrbg.h>
#include <crypto/Kdf.h>
#include <crypto/Rc4.h>

#include "vectors/CryptoVectors.h"

using namespace crypto_vectors;

namespace {

// A decoded octet string of at most Capacity octets.
template <UINTN Capacity>
struct Octets {
  UINT8 Data[Capacity];
  UINTN Length = 0;
  bool Load(const CHAR8 *Hex) {
    Length = DecodeHex(Hex, Data, Capacity);
    return Length != InvalidHex;
  }
};

// "crypto.<group>.<vector><suffix>", cut to the buffer.
class CheckName {
 public:
  CheckName(const CHAR8 *Group, const CHAR8 *Vector, const CHAR8 *Suffix) {
    Append("crypto.");
    Append(Group);
    Append(".");
    Append(Vector);
    Append(Suffix);
  }
  operator const CHAR8 *() const { return Text_; }

 private:
  void Append(const CHAR8 *Part) {
    while (*Part != '\0' && Length_ + 1 < sizeof(Text_)) {
      Text_[Length_++] = *Part++;
    }
    Text_[Length_] = '\0';
  }
  CHAR8 Text_[96] = {};
  UINTN Length_ = 0;
};

bool SameOctets(const UINT8 *A, const UINT8 *B, UINTN Length) {
  for (UINTN i = 0; i < Length; ++i) {
    if (A[i] != B[i]) {
      return false;
    }
  }
  return true;
}

// Feeds Text repeated Repeat times through Update in chunks of whole copies.
template <class UpdateFn>
void FeedRepeated(const CHAR8 *Text, UINTN Repeat, UpdateFn Update) {
  const UINTN Length = TextLength(Text);
  if (Length == 0) {
    return;
  }
  UINT8 Chunk[256];
  UINTN CopiesPerChunk = sizeof(Chunk) / Length;
  if (CopiesPerChunk == 0) {
    for (UINTN r = 0; r < Repeat; ++r) {
      Update(reinterpret_cast<const UINT8 *>(Text), Length);
    }
    return;
  }
  for (UINTN c = 0; c < CopiesPerChunk; ++c) {
    for (UINTN i = 0; i < Length; ++i) {
      Chunk[c * Length + i] = (UINT8)Text[i];
    }
  }
  while (Repeat != 0) {
    const UINTN Copies = Repeat < CopiesPerChunk ? Repeat : CopiesPerChunk;
    Update(Chunk, Copies * Length);
    Repeat -= Copies;
  }
}

void RunDigests(TestReporter &Report, const CHAR8 *Suffix) {
  Octets<32> Expected;
  UINT8 Digest[32];
  for (const DigestVector &V : Md5Vectors) {
    md5_ctx Context;
    md5_init(&Context);
    FeedRepeated(V.Text, V.Repeat, [&](const UINT8 *Data, UINTN Length) { md5_update(&Context, Data, Length); });
    const bool Ok = md5_final(&Context, Digest) == EFI_SUCCESS && Expected.Load(V.DigestHex);
    Report.Check(Ok && SameOctets(Digest, Expected.Data, MD5_DIGEST_SIZE), CheckName("md5", V.Name, Suffix));
  }
  for (const DigestVector &V : Sha1Vectors) {
    sha1_ctx Context;
    sha1_init(&Context);
    FeedRepeated(V.Text, V.Repeat, [&](const UINT8 *Data, UINTN Length) { sha1_update(&Context, Data, Length); });
    sha1_final(Digest, &Context);
    const bool Ok = Expected.Load(V.DigestHex);
    Report.Check(Ok && SameOctets(Digest, Expected.Data, SHA1_DIGEST_SIZE), CheckName("sha1", V.Name, Suffix));
  }
  for (const DigestVector &V : Sha256Vectors) {
    sha256_ctx Context;
    sha256_init(&Context);
    FeedRepeated(V.Text, V.Repeat, [&](const UINT8 *Data, UINTN Length) { sha256_update(&Context, Data, Length); });
    const bool Ok = sha256_final(&Context, Digest) == 0 && Expected.Load(V.DigestHex);
    Report.Check(Ok && SameOctets(Digest, Expected.Data, SHA256_DIGEST_SIZE), CheckName("sha256", V.Name, Suffix));
  }
}

struct HmacInputs {
  Octets<160> Key;
  Octets<160> Data;
  Octets<32>  Mac;
  bool Load(const HmacVector &V) { return Key.Load(V.KeyHex) && Data.Load(V.DataHex) && Mac.Load(V.MacHex); }
};

void RunHmacs(TestReporter &Report, const CHAR8 *Suffix) {
  HmacInputs In;
  UINT8 Mac[32];
  for (const HmacVector &V : HmacMd5Vectors) {
    const bool Ok = In.Load(V) && mic_hmac_md5(In.Data.Data, In.Data.Length, In.Key.Data, In.Key.Length, Mac) ==
                                      EFI_SUCCESS;
    Report.Check(Ok && SameOctets(Mac, In.Mac.Data, In.Mac.Length), CheckName("hmac-md5", V.Name, Suffix));
  }
  for (const HmacVector &V : HmacSha1Vectors) {
    const bool Ok = In.Load(V) && hmac_sha1(In.Key.Data, In.Key.Length, In.Data.Data, In.Data.Length, Mac) == 0;
    Report.Check(Ok && SameOctets(Mac, In.Mac.Data, In.Mac.Length), CheckName("hmac-sha1", V.Name, Suffix));
  }
  for (const HmacVector &V : HmacSha256Vectors) {
    const bool Ok = In.Load(V);
    if (Ok) {
      hmac_sha256(In.Key.Data, In.Key.Length, In.Data.Data, In.Data.Length, Mac);
    }
    Report.Check(Ok && SameOctets(Mac, In.Mac.Data, In.Mac.Length), CheckName("hmac-sha256", V.Name, Suffix));
  }
}

void RunKdfs(TestReporter &Report, const CHAR8 *Suffix) {
  Octets<80> Key;
  Octets<96> Data;
  Octets<80> Expected;
  UINT8 Out[80];
  for (const PrfVector &V : PrfVectors) {
    const bool Ok = Key.Load(V.KeyHex) && Data.Load(V.DataHex) && Expected.Load(V.OutHex);
    if (Ok) {
      prf_sha1(Key.Data, Key.Length, V.Label, TextLength(V.Label), Data.Data, Data.Length, Out, V.OutLength);
    }
    Report.Check(Ok && SameOctets(Out, Expected.Data, Expected.Length), CheckName("prf-sha1", V.Name, Suffix));
  }
  for (const Pbkdf2Vector &V : Pbkdf2Vectors) {
    const bool Ok = Expected.Load(V.BlockHex);
    pbkdf2_sha1_block(V.Passphrase, TextLength(V.Passphrase), V.Salt, TextLength(V.Salt), V.Iterations, 1, Out);
    Report.Check(Ok && SameOctets(Out, Expected.Data, SHA1_DIGEST_SIZE), CheckName("pbkdf2-sha1", V.Name, Suffix));
  }
  for (const PskVector &V : PskVectors) {
    const bool Ok = Expected.Load(V.PskHex) &&
                    psk_from_passphrase(V.Passphrase, TextLength(V.Passphrase), V.Ssid, TextLength(V.Ssid), Out) == 1;
    Report.Check(Ok && SameOctets(Out, Expected.Data, PSK_SIZE), CheckName("psk", V.Name, Suffix));
  }
  for (const KdfVector &V : KdfVectors) {
    const bool Ok = Key.Load(V.KeyHex) && Data.Load(V.DataHex) && Expected.Load(V.OutHex) &&
                    kdf_sha256_bits(Key.Data, Key.Length, V.Label, Data.Data, Data.Length, Out, (INTN)V.OutBits) == 0;
    Report.Check(Ok && SameOctets(Out, Expected.Data, Expected.Length), CheckName("kdf-sha256", V.Name, Suffix));
  }
}

void RunAes(TestReporter &Report, const CHAR8 *Suffix) {
  Octets<32> Key, Plain, Cipher;
  UINT8 Block[16];
  aes_key_schedule Schedule;
  for (const AesVector &V : AesVectors) {
    bool Ok = Key.Load(V.KeyHex) && Plain.Load(V.PlainHex) && Cipher.Load(V.CipherHex);
    const int Rounds = Ok ? aes_set_encrypt_key(&Schedule, Key.Data, Key.Length * 8) : 0;
    aes_encrypt_block(&Schedule, Rounds, Plain.Data, Block);
    Report.Check(Ok && Rounds != 0 && SameOctets(Block, Cipher.Data, 16), CheckName("aes-encrypt", V.Name, Suffix));
    const int InverseRounds = Ok ? aes_set_decrypt_key(&Schedule, Key.Data, Key.Length * 8) : 0;
    aes_decrypt_block(&Schedule, InverseRounds, Cipher.Data, Block);
    Report.Check(Ok && InverseRounds == Rounds && SameOctets(Block, Plain.Data, 16),
                 CheckName("aes-decrypt", V.Name, Suffix));
  }

  Octets<64> Message;
  Octets<16> Expected, K1, K2;
  UINT8 Mac[16];
  UINTN MacLength = 0;
  for (const CmacVector &V : CmacVectors) {
    const bool Ok = Key.Load(V.KeyHex) && Message.Load(V.MessageHex) && Expected.Load(V.MacHex);
    if (Ok) {
      mic_aes_cmac(Message.Data, Message.Length, Key.Data, Key.Length, Mac, &MacLength);
    }
    Report.Check(Ok && MacLength == AES_CMAC_SIZE && SameOctets(Mac, Expected.Data, 16),
                 CheckName("aes-cmac", V.Name, Suffix));
  }
  UINT8 SubkeyOne[16], SubkeyTwo[16];
  const bool SubkeysOk = Key.Load(CmacKeyHex) && K1.Load(CmacK1Hex) && K2.Load(CmacK2Hex);
  aes_cmac_subkeys(Key.Data, Key.Length, SubkeyOne, SubkeyTwo);
  Report.Check(SubkeysOk && SameOctets(SubkeyOne, K1.Data, 16) && SameOctets(SubkeyTwo, K2.Data, 16),
               CheckName("aes-cmac-subkeys", "rfc4493", Suffix));
}

void RunKeyUnwrap(TestReporter &Report, const CHAR8 *Suffix) {
  Octets<16> Kek;
  Octets<AES_KEY_UNWRAP_MAX_INPUT> Wrapped;
  Octets<AES_KEY_UNWRAP_MAX_INPUT - 8> KeyData;
  UINT8 Out[AES_KEY_UNWRAP_MAX_INPUT];
  static constexpr UINT8 InitialValue[8] = {0xa6, 0xa6, 0xa6, 0xa6, 0xa6, 0xa6, 0xa6, 0xa6};
  for (const UnwrapVector &V : UnwrapVectors) {
    const bool Ok = Kek.Load(V.KekHex) && Wrapped.Load(V.WrappedHex) && KeyData.Load(V.KeyDataHex);
    if (Ok) {
      aes_key_unwrap(Wrapped.Data, Wrapped.Length, Kek.Data, Out);
    }
    Report.Check(Ok && SameOctets(Out, InitialValue, 8) && SameOctets(Out + 8, KeyData.Data, KeyData.Length),
                 CheckName("aes-key-unwrap", V.Name, Suffix));
  }
  // One flipped bit in the wrapped key data must show as a wrong A.
  const bool Ok = Kek.Load(UnwrapVectors[0].KekHex) && Wrapped.Load(UnwrapVectors[0].WrappedHex);
  Wrapped.Data[Wrapped.Length - 1] ^= 0x01;
  aes_key_unwrap(Wrapped.Data, Wrapped.Length, Kek.Data, Out);
  Report.Check(Ok && !SameOctets(Out, InitialValue, 8), CheckName("aes-key-unwrap", "corrupted", Suffix));
}

void RunRc4(TestReporter &Report, const CHAR8 *Suffix) {
  Octets<16> Key;
  Octets<32> Expected;
  UINT8 Skip[256] = {};
  UINT8 Stream[32];
  for (const Rc4Vector &V : Rc4Vectors) {
    rc4_state State;
    const bool Ok = Key.Load(V.KeyHex) && Expected.Load(V.KeystreamHex) && V.Offset <= sizeof(Skip);
    if (Ok) {
      rc4_set_key(&State, Key.Length, Key.Data);
      rc4_crypt(&State, V.Offset, Skip, Skip);
      for (UINTN i = 0; i < sizeof(Stream); ++i) {
        Stream[i] = 0;
      }
      rc4_crypt(&State, Expected.Length, Stream, Stream);
    }
    Report.Check(Ok && SameOctets(Stream, Expected.Data, Expected.Length), CheckName("rc4", V.Name, Suffix));
  }
}

void RunDrbg(TestReporter &Report, const CHAR8 *Suffix) {
  Octets<32> Entropy, Nonce, Personalization, Additional1, Additional2;
  Octets<DrbgOutputLength> Expected;
  UINT8 Out[DrbgOutputLength];
  for (const DrbgVector &V : DrbgVectors) {
    hmac_drbg_state State;
    bool Ok = Entropy.Load(V.EntropyHex) && Nonce.Load(V.NonceHex) && Personalization.Load(V.PersonalizationHex) &&
              Additional1.Load(V.Additional1Hex) && Additional2.Load(V.Additional2Hex) && Expected.Load(V.OutputHex);
    Ok = Ok &&
         hmac_drbg_instantiate(&State, Entropy.Data, Entropy.Length, Nonce.Data, Nonce.Length, Personalization.Data,
                               Personalization.Length) == 0 &&
         hmac_drbg_generate(&State, Out, sizeof(Out), Additional1.Data, Additional1.Length) == 0 &&
         hmac_drbg_generate(&State, Out, sizeof(Out), Additional2.Data, Additional2.Length) == 0;
    hmac_drbg_uninstantiate(&State);
    Report.Check(Ok && SameOctets(Out, Expected.Data, sizeof(Out)), CheckName("hmac-drbg", V.Name, Suffix));
  }
}

void RunAll(TestReporter &Report, const CHAR8 *Suffix) {
  RunDigests(Report, Suffix);
  RunHmacs(Report, Suffix);
  RunKdfs(Report, Suffix);
  RunAes(Report, Suffix);
  RunKeyUnwrap(Report, Suffix);
  RunRc4(Report, Suffix);
  RunDrbg(Report, Suffix);
}

}  // namespace

void RunCryptoSuite(TestReporter &Report) {
  const bool Sha = crypto_cpu_has_sha();
  const bool Aes = crypto_cpu_has_aes();
  Report.Info("crypto: SHA extensions %a, AES-NI %a", Sha ? "used" : "absent", Aes ? "used" : "absent");
  RunAll(Report, "");
  if (Sha || Aes) {
    crypto_force_portable(true);
    RunAll(Report, "/portable");
    crypto_force_portable(false);
  }
}
