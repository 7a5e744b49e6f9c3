// HMAC with the key pads absorbed once: a keyed object hands out inner
// contexts that already hold the inner pad and finishes them with the saved
// outer context. Internal to the crypto library (HMAC, the KDFs, PBKDF2 and
// the DRBG share it).
#pragma once
#include <uefi/Base.h>

#include "CryptoUtil.h"
#include "Md5.h"
#include "Sha1.h"
#include "Sha256.h"

struct Md5Hash {
  using Context = md5_ctx;
  static constexpr UINTN DigestSize = MD5_DIGEST_SIZE;
  static void Init(Context &C) { md5_init(&C); }
  static void Update(Context &C, const void *Data, UINTN Length) { md5_update(&C, Data, Length); }
  static EFI_STATUS Final(Context &C, UINT8 *Digest) { return md5_final(&C, Digest); }
};

struct Sha1Hash {
  using Context = sha1_ctx;
  static constexpr UINTN DigestSize = SHA1_DIGEST_SIZE;
  static void Init(Context &C) { sha1_init(&C); }
  static void Update(Context &C, const void *Data, UINTN Length) { sha1_update(&C, Data, Length); }
  static EFI_STATUS Final(Context &C, UINT8 *Digest) {
    sha1_final(Digest, &C);
    return EFI_SUCCESS;
  }
};

struct Sha256Hash {
  using Context = sha256_ctx;
  static constexpr UINTN DigestSize = SHA256_DIGEST_SIZE;
  static void Init(Context &C) { sha256_init(&C); }
  static void Update(Context &C, const void *Data, UINTN Length) { sha256_update(&C, Data, Length); }
  static EFI_STATUS Final(Context &C, UINT8 *Digest) {
    return sha256_final(&C, Digest) == 0 ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
  }
};

template <class Hash>
class HmacKey {
 public:
  using Context = typename Hash::Context;
  static constexpr UINTN BlockSize = 64;
  static constexpr UINTN DigestSize = Hash::DigestSize;

  HmacKey(const UINT8 *Key, UINTN KeyLength) {
    UINT8 Pad[BlockSize];
    crypto_util::FillBytes(Pad, 0, BlockSize);
    if (KeyLength > BlockSize) {
      // A long key gives way to its digest; the caller's buffer is only read.
      Context KeyHash;
      Hash::Init(KeyHash);
      Hash::Update(KeyHash, Key, KeyLength);
      Hash::Final(KeyHash, Pad);
      crypto_util::Wipe(KeyHash);
    } else {
      crypto_util::CopyBytes(Pad, Key, KeyLength);
    }
    AbsorbPad(Inner_, Pad, 0x36);
    AbsorbPad(Outer_, Pad, 0x36 ^ 0x5c);
    crypto_util::Wipe(Pad);
  }
  ~HmacKey() {
    crypto_util::Wipe(Inner_);
    crypto_util::Wipe(Outer_);
  }
  HmacKey(const HmacKey &) = delete;
  HmacKey &operator=(const HmacKey &) = delete;

  // A context that has taken the inner pad; feed the message into it.
  Context Start() const { return Inner_; }

  // Completes the MAC of the message fed into Inner (which is consumed).
  EFI_STATUS Finish(Context &Inner, UINT8 *Mac) const {
    UINT8 InnerDigest[DigestSize];
    Hash::Final(Inner, InnerDigest);
    Context Outer = Outer_;
    Hash::Update(Outer, InnerDigest, DigestSize);
    const EFI_STATUS Status = Hash::Final(Outer, Mac);
    crypto_util::Wipe(InnerDigest);
    crypto_util::Wipe(Outer);
    return Status;
  }

  // MAC of an element list (no count limit at this level).
  EFI_STATUS Compute(UINTN Count, const UINT8 *const Address[], const UINTN Length[], UINT8 *Mac) const {
    Context Inner = Start();
    for (UINTN i = 0; i < Count; ++i) {
      Hash::Update(Inner, Address[i], Length[i]);
    }
    return Finish(Inner, Mac);
  }

  EFI_STATUS Compute(const void *Data, UINTN Length, UINT8 *Mac) const {
    Context Inner = Start();
    Hash::Update(Inner, Data, Length);
    return Finish(Inner, Mac);
  }

  const Context &InnerContext() const { return Inner_; }
  const Context &OuterContext() const { return Outer_; }

 private:
  // Pad is XORed in place with Mask, so the second call passes the XOR of
  // both pad constants.
  static void AbsorbPad(Context &C, UINT8 *Pad, UINT8 Mask) {
    for (UINTN i = 0; i < BlockSize; ++i) {
      Pad[i] ^= Mask;
    }
    Hash::Init(C);
    Hash::Update(C, Pad, BlockSize);
  }

  Context Inner_;
  Context Outer_;
};
