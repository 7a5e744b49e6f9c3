#include "Kdf.h"

#include "CryptoUtil.h"
#include "Hmac.h"
#include "HmacCore.h"
#include "ShaCompress.h"

using namespace crypto_util;

namespace {

// Length of a NUL-terminated label, scanning no further than Limit octets.
UINTN BoundedLength(const CHAR8 *Text, UINTN Limit) {
  UINTN Length = 0;
  while (Length < Limit && Text[Length] != '\0') {
    ++Length;
  }
  return Length;
}

bool FitsTogether(UINTN A, UINTN B, UINTN Extra, UINTN Limit) {
  return A <= Limit && B <= Limit && A + B + Extra <= Limit;
}

// The KDF core shared by the octet and bit forms: writes OutOctets octets
// with the length field L.
void KdfSha256(const UINT8 *Key, UINTN KeyLength, const CHAR8 *Label, UINTN LabelLength, const UINT8 *Data,
               UINTN DataLength, UINT8 *Out, UINTN OutOctets, UINT16 LengthField) {
  const HmacKey<Sha256Hash> Mac(Key, KeyLength);
  UINT8 CounterOctets[2];
  UINT8 LengthOctets[2] = {(UINT8)LengthField, (UINT8)(LengthField >> 8)};
  const UINT8 *Address[4] = {CounterOctets, reinterpret_cast<const UINT8 *>(Label), Data, LengthOctets};
  const UINTN Length[4] = {2, LabelLength, DataLength, 2};
  UINT8 Last[SHA256_DIGEST_SIZE];
  UINTN Written = 0;
  for (UINT16 Counter = 1; Written < OutOctets; ++Counter) {
    CounterOctets[0] = (UINT8)Counter;
    CounterOctets[1] = (UINT8)(Counter >> 8);
    if (OutOctets - Written >= SHA256_DIGEST_SIZE) {
      Mac.Compute(4, Address, Length, Out + Written);
      Written += SHA256_DIGEST_SIZE;
    } else {
      Mac.Compute(4, Address, Length, Last);
      CopyBytes(Out + Written, Last, OutOctets - Written);
      Written = OutOctets;
    }
  }
  Wipe(Last);
}

// The PBKDF2 iterations after U1: each HMAC-SHA1 of a 20-octet U is one
// compression from the saved inner state and one from the saved outer state,
// both over the same single padded block (20 octets after a 64-octet pad:
// 672 message bits).
void IterateSha1(const UINT32 InnerState[5], const UINT32 OuterState[5], UINT8 U[20], UINT8 T[20],
                 UINTN Rounds) {
  const Sha1CompressFn Compress = Sha1Compressor();
  UINT8 Block[64];
  FillBytes(Block, 0, sizeof(Block));
  Block[20] = 0x80;
  StoreBe32(Block + 60, (64 + 20) * 8);
  CopyBytes(Block, U, 20);
  UINT32 State[5];
  UINT32 Sum[5];
  for (unsigned w = 0; w < 5; ++w) {
    Sum[w] = LoadBe32(T + 4 * w);
  }
  for (UINTN Round = 0; Round < Rounds; ++Round) {
    for (unsigned w = 0; w < 5; ++w) {
      State[w] = InnerState[w];
    }
    Compress(State, Block, 1);
    for (unsigned w = 0; w < 5; ++w) {
      StoreBe32(Block + 4 * w, State[w]);
      State[w] = OuterState[w];
    }
    Compress(State, Block, 1);
    for (unsigned w = 0; w < 5; ++w) {
      StoreBe32(Block + 4 * w, State[w]);
      Sum[w] ^= State[w];
    }
  }
  for (unsigned w = 0; w < 5; ++w) {
    StoreBe32(T + 4 * w, Sum[w]);
  }
  CopyBytes(U, Block, 20);
  Wipe(Block);
  Wipe(State);
  Wipe(Sum);
}

}  // namespace

void prf_sha1(const UINT8 *Key, UINTN KeyLength, const CHAR8 *Label, UINTN LabelLength, const UINT8 *Data,
              UINTN DataLength, UINT8 *Out, UINTN OutLength) {
  const UINTN Blocks = OutLength / SHA1_DIGEST_SIZE + (OutLength % SHA1_DIGEST_SIZE != 0);
  // The counter is one octet: more blocks would repeat the first ones.
  if (Blocks > PRF_SHA1_MAX_BLOCKS || !FitsTogether(LabelLength, DataLength, 2, PRF_SHA1_MAX_INPUT)) {
    FillBytes(Out, 0, Blocks * SHA1_DIGEST_SIZE);
    return;
  }
  const HmacKey<Sha1Hash> Mac(Key, KeyLength);
  const UINT8 Zero = 0;
  UINT8 Counter = 0;
  const UINT8 *Address[4] = {reinterpret_cast<const UINT8 *>(Label), &Zero, Data, &Counter};
  const UINTN Length[4] = {LabelLength, 1, DataLength, 1};
  for (UINTN i = 0; i < Blocks; ++i) {
    Counter = (UINT8)i;
    Mac.Compute(4, Address, Length, Out + SHA1_DIGEST_SIZE * i);
  }
}

void kdf_sha256(const UINT8 *Key, UINTN KeyLength, const CHAR8 *Label, const UINT8 *Data, UINTN DataLength,
                UINT8 *Out, INTN OutLength) {
  if (OutLength <= 0) {
    return;
  }
  const UINTN LabelLength = BoundedLength(Label, KDF_SHA256_MAX_INPUT + 1);
  if (OutLength > KDF_SHA256_MAX_OCTETS || !FitsTogether(LabelLength, DataLength, 4, KDF_SHA256_MAX_INPUT)) {
    FillBytes(Out, 0, (UINTN)OutLength);
    return;
  }
  KdfSha256(Key, KeyLength, Label, LabelLength, Data, DataLength, Out, (UINTN)OutLength, (UINT16)(OutLength * 8));
}

int kdf_sha256_bits(const UINT8 *Key, UINTN KeyLength, const CHAR8 *Label, const UINT8 *Data, UINTN DataLength,
                    UINT8 *Out, INTN OutBits) {
  if (OutBits <= 0) {
    return 0;
  }
  const UINTN LabelLength = BoundedLength(Label, KDF_SHA256_MAX_INPUT + 1);
  if (OutBits > KDF_SHA256_MAX_BITS || !FitsTogether(LabelLength, DataLength, 4, KDF_SHA256_MAX_INPUT)) {
    return -1;
  }
  const UINTN OutOctets = ((UINTN)OutBits + 7) / 8;
  KdfSha256(Key, KeyLength, Label, LabelLength, Data, DataLength, Out, OutOctets, (UINT16)OutBits);
  const unsigned Spare = (unsigned)(OutBits % 8);
  if (Spare != 0) {
    Out[OutOctets - 1] &= (UINT8)(0xff << (8 - Spare));
  }
  return 0;
}

void pbkdf2_sha1_block(const void *Passphrase, UINTN PassphraseLength, const void *Salt, UINTN SaltLength,
                       UINTN Iterations, UINT32 BlockIndex, UINT8 *Out) {
  const HmacKey<Sha1Hash> Mac(static_cast<const UINT8 *>(Passphrase), PassphraseLength);
  UINT8 Index[4];
  StoreBe32(Index, BlockIndex);
  const UINT8 *Address[2] = {static_cast<const UINT8 *>(Salt), Index};
  const UINTN Length[2] = {SaltLength, 4};
  UINT8 U[SHA1_DIGEST_SIZE];
  Mac.Compute(2, Address, Length, U);
  CopyBytes(Out, U, SHA1_DIGEST_SIZE);
  if (Iterations > 1) {
    IterateSha1(Mac.InnerContext().state, Mac.OuterContext().state, U, Out, Iterations - 1);
  }
  Wipe(U);
}

int psk_from_passphrase(const void *Passphrase, UINTN PassphraseLength, const void *Ssid, UINTN SsidLength,
                        UINT8 *Psk) {
  if (PassphraseLength > PSK_MAX_PASSPHRASE || SsidLength > PSK_MAX_SSID) {
    return 0;
  }
  // The PSK's two PBKDF2 blocks are independent chains of 4096 HMACs each:
  // run them side by side.
  const HmacKey<Sha1Hash> Mac(static_cast<const UINT8 *>(Passphrase), PassphraseLength);
  SHA1_PBKDF2_CHAIN Chains[2];
  UINT8 U[SHA1_DIGEST_SIZE];
  for (UINT32 Block = 0; Block < 2; ++Block) {
    UINT8 Index[4];
    StoreBe32(Index, Block + 1);
    const UINT8 *Address[2] = {static_cast<const UINT8 *>(Ssid), Index};
    const UINTN Length[2] = {SsidLength, 4};
    Mac.Compute(2, Address, Length, U);
    SHA1_PBKDF2_CHAIN &Chain = Chains[Block];
    for (unsigned w = 0; w < 5; ++w) {
      Chain.Inner[w] = Mac.InnerContext().state[w];
      Chain.Outer[w] = Mac.OuterContext().state[w];
      Chain.U[w] = LoadBe32(U + 4 * w);
      Chain.T[w] = Chain.U[w];
    }
  }
  Sha1Pbkdf2Pair()(Chains, 4096 - 1);
  UINT8 T[2 * SHA1_DIGEST_SIZE];
  for (unsigned w = 0; w < 10; ++w) {
    StoreBe32(T + 4 * w, Chains[w / 5].T[w % 5]);
  }
  CopyBytes(Psk, T, PSK_SIZE);
  Wipe(T);
  Wipe(U);
  Wipe(Chains);
  return 1;
}

void shift_right_bits(UINT8 *Buffer, UINTN Length, UINTN Bits) {
  if (Length == 0 || Bits < 1 || Bits > 7) {
    return;
  }
  for (UINTN k = Length - 1; k > 0; --k) {
    Buffer[k] = (UINT8)((Buffer[k - 1] << (8 - Bits)) | (Buffer[k] >> Bits));
  }
  Buffer[0] = (UINT8)(Buffer[0] >> Bits);
}
