#include "Aes.h"

#include "AesBlock.h"
#include "CpuFeatures.h"
#include "CryptoUtil.h"

using namespace crypto_util;

namespace {

constexpr UINT8 Xtime(UINT8 A) { return (UINT8)((A << 1) ^ ((A & 0x80) ? 0x1b : 0)); }

constexpr UINT8 GfMultiply(UINT8 A, UINT8 B) {
  UINT8 Product = 0;
  for (; B != 0; B >>= 1, A = Xtime(A)) {
    if (B & 1) {
      Product ^= A;
    }
  }
  return Product;
}

constexpr UINT8 RotateLeft8(UINT8 Value, unsigned Count) {
  return (UINT8)((Value << Count) | (Value >> (8 - Count)));
}

struct SubstitutionBoxes {
  UINT8 Forward[256];
  UINT8 Inverse[256];
};

// Walks the multiplicative group with generator 3: P runs through the
// powers of 3 and Q through those of its inverse, so Q = P^-1 at every step;
// the S-box entry is the affine transform of the inverse.
constexpr SubstitutionBoxes MakeSubstitutionBoxes() {
  SubstitutionBoxes Boxes{};
  UINT8 P = 1, Q = 1;
  do {
    P = (UINT8)(P ^ Xtime(P));
    Q = (UINT8)(Q ^ (Q << 1));
    Q = (UINT8)(Q ^ (Q << 2));
    Q = (UINT8)(Q ^ (Q << 4));
    if (Q & 0x80) {
      Q ^= 0x09;
    }
    const UINT8 Value =
        (UINT8)(Q ^ RotateLeft8(Q, 1) ^ RotateLeft8(Q, 2) ^ RotateLeft8(Q, 3) ^ RotateLeft8(Q, 4) ^ 0x63);
    Boxes.Forward[P] = Value;
  } while (P != 1);
  Boxes.Forward[0] = 0x63;
  for (unsigned i = 0; i < 256; ++i) {
    Boxes.Inverse[Boxes.Forward[i]] = (UINT8)i;
  }
  return Boxes;
}

constexpr SubstitutionBoxes Boxes = MakeSubstitutionBoxes();
static_assert(Boxes.Forward[0x00] == 0x63 && Boxes.Forward[0x01] == 0x7c && Boxes.Forward[0x53] == 0xed &&
              Boxes.Forward[0xff] == 0x16);
static_assert(Boxes.Inverse[0x00] == 0x52 && Boxes.Inverse[0x63] == 0x00);

constexpr UINT32 Column(UINT8 Row0, UINT8 Row1, UINT8 Row2, UINT8 Row3) {
  return (UINT32)Row0 | ((UINT32)Row1 << 8) | ((UINT32)Row2 << 16) | ((UINT32)Row3 << 24);
}

struct RoundTables {
  UINT32 Encrypt[256];  // S-box then the MixColumns column of row 0
  UINT32 Decrypt[256];  // inverse S-box then the InvMixColumns column of row 0
};

constexpr RoundTables MakeRoundTables() {
  RoundTables Tables{};
  for (unsigned i = 0; i < 256; ++i) {
    const UINT8 S = Boxes.Forward[i];
    Tables.Encrypt[i] = Column(GfMultiply(S, 2), S, S, GfMultiply(S, 3));
    const UINT8 I = Boxes.Inverse[i];
    Tables.Decrypt[i] = Column(GfMultiply(I, 14), GfMultiply(I, 9), GfMultiply(I, 13), GfMultiply(I, 11));
  }
  return Tables;
}

constexpr RoundTables Tables = MakeRoundTables();

inline UINT8 Octet(UINT32 Word, unsigned Index) { return (UINT8)(Word >> (8 * Index)); }

inline UINT32 SubWord(UINT32 Word) {
  return Column(Boxes.Forward[Octet(Word, 0)], Boxes.Forward[Octet(Word, 1)], Boxes.Forward[Octet(Word, 2)],
                Boxes.Forward[Octet(Word, 3)]);
}

inline UINT32 InvMixColumn(UINT32 Word) {
  // The decryption table starts with the inverse S-box; undo it first.
  UINT32 Mixed = 0;
  for (unsigned Row = 0; Row < 4; ++Row) {
    Mixed ^= RotateLeft32(Tables.Decrypt[Boxes.Forward[Octet(Word, Row)]], 8 * Row);
  }
  return Mixed;
}

unsigned RoundsForKeyBits(UINTN KeyBits) {
  switch (KeyBits) {
    case 128: return 10;
    case 192: return 12;
    case 256: return 14;
    default:  return 0;
  }
}

bool RoundsMatch(const aes_key_schedule *Schedule, int Rounds) {
  return (Rounds == 10 || Rounds == 12 || Rounds == 14) && Schedule->rounds == (UINT32)Rounds;
}

}  // namespace

namespace {

// One block through the T-table rounds. Encryption takes the columns of
// ShiftRows forwards (Step 1), decryption those of InvShiftRows backwards
// (Step 3); the table and the final S-box are the direction's own.
template <unsigned Step>
void CipherBlock(const UINT32 (&Table)[256], const UINT8 (&Box)[256], const UINT32 *RoundKeys, unsigned Rounds,
                 const UINT8 *In, UINT8 *Out) {
  UINT32 S[4], T[4];
  for (unsigned j = 0; j < 4; ++j) {
    S[j] = LoadLe32(In + 4 * j) ^ RoundKeys[j];
  }
  for (unsigned Round = 1; Round < Rounds; ++Round) {
    const UINT32 *Key = RoundKeys + 4 * Round;
    for (unsigned j = 0; j < 4; ++j) {
      T[j] = Table[Octet(S[j], 0)] ^ RotateLeft32(Table[Octet(S[(j + Step) & 3], 1)], 8) ^
             RotateLeft32(Table[Octet(S[(j + 2) & 3], 2)], 16) ^
             RotateLeft32(Table[Octet(S[(j + 3 * Step) & 3], 3)], 24) ^ Key[j];
    }
    for (unsigned j = 0; j < 4; ++j) {
      S[j] = T[j];
    }
  }
  const UINT32 *Key = RoundKeys + 4 * Rounds;
  for (unsigned j = 0; j < 4; ++j) {
    const UINT32 Word = Column(Box[Octet(S[j], 0)], Box[Octet(S[(j + Step) & 3], 1)], Box[Octet(S[(j + 2) & 3], 2)],
                               Box[Octet(S[(j + 3 * Step) & 3], 3)]);
    StoreLe32(Out + 4 * j, Word ^ Key[j]);
  }
  Wipe(S);
  Wipe(T);
}

}  // namespace

void AesEncryptPortable(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out) {
  CipherBlock<1>(Tables.Encrypt, Boxes.Forward, RoundKeys, Rounds, In, Out);
}

void AesDecryptPortable(const UINT32 *RoundKeys, unsigned Rounds, const UINT8 *In, UINT8 *Out) {
  CipherBlock<3>(Tables.Decrypt, Boxes.Inverse, RoundKeys, Rounds, In, Out);
}

AesBlockFn AesEncryptor() { return crypto_cpu_has_aes() ? AesEncryptNi : AesEncryptPortable; }

AesBlockFn AesDecryptor() { return crypto_cpu_has_aes() ? AesDecryptNi : AesDecryptPortable; }

int aes_set_encrypt_key(aes_key_schedule *Schedule, const UINT8 *Key, UINTN KeyBits) {
  const unsigned Rounds = RoundsForKeyBits(KeyBits);
  if (Rounds == 0) {
    WipeBytes(Schedule, sizeof(*Schedule));
    return 0;
  }
  const unsigned KeyWords = (unsigned)(KeyBits / 32);
  const unsigned TotalWords = 4 * (Rounds + 1);
  UINT32 *W = Schedule->round_keys;
  for (unsigned i = 0; i < KeyWords; ++i) {
    W[i] = LoadLe32(Key + 4 * i);
  }
  UINT8 RoundConstant = 1;
  for (unsigned i = KeyWords; i < TotalWords; ++i) {
    UINT32 Temp = W[i - 1];
    if (i % KeyWords == 0) {
      // RotWord moves the first octet last: a right rotation of the word.
      Temp = SubWord(RotateRight32(Temp, 8)) ^ RoundConstant;
      RoundConstant = Xtime(RoundConstant);
    } else if (KeyWords > 6 && i % KeyWords == 4) {
      Temp = SubWord(Temp);
    }
    W[i] = W[i - KeyWords] ^ Temp;
  }
  for (unsigned i = TotalWords; i < 60; ++i) {
    W[i] = 0;
  }
  Schedule->rounds = Rounds;
  return (int)Rounds;
}

int aes_set_decrypt_key(aes_key_schedule *Schedule, const UINT8 *Key, UINTN KeyBits) {
  aes_key_schedule Forward;
  const int Rounds = aes_set_encrypt_key(&Forward, Key, KeyBits);
  if (Rounds == 0) {
    WipeBytes(Schedule, sizeof(*Schedule));
    return 0;
  }
  for (int Round = 0; Round <= Rounds; ++Round) {
    const UINT32 *From = Forward.round_keys + 4 * (Rounds - Round);
    UINT32 *To = Schedule->round_keys + 4 * Round;
    const bool Mix = Round != 0 && Round != Rounds;
    for (unsigned j = 0; j < 4; ++j) {
      To[j] = Mix ? InvMixColumn(From[j]) : From[j];
    }
  }
  for (unsigned i = 4 * ((unsigned)Rounds + 1); i < 60; ++i) {
    Schedule->round_keys[i] = 0;
  }
  Schedule->rounds = (UINT32)Rounds;
  Wipe(Forward);
  return Rounds;
}

void aes_encrypt_block(const aes_key_schedule *Schedule, int Rounds, const UINT8 *In, UINT8 *Out) {
  if (!RoundsMatch(Schedule, Rounds)) {
    FillBytes(Out, 0, AES_BLOCK_SIZE);
    return;
  }
  AesEncryptor()(Schedule->round_keys, (unsigned)Rounds, In, Out);
}

void aes_decrypt_block(const aes_key_schedule *Schedule, int Rounds, const UINT8 *In, UINT8 *Out) {
  if (!RoundsMatch(Schedule, Rounds)) {
    FillBytes(Out, 0, AES_BLOCK_SIZE);
    return;
  }
  AesDecryptor()(Schedule->round_keys, (unsigned)Rounds, In, Out);
}
