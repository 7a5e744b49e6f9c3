#include "Md5.h"

#include "CryptoUtil.h"

using namespace crypto_util;

namespace {

constexpr UINT32 InitialState[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// T[i] = floor(2^32 * |sin(i + 1)|), RFC 1321 section 3.4.
constexpr UINT32 SineTable[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr unsigned Shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline UINT32 RoundFunction(unsigned Round, UINT32 B, UINT32 C, UINT32 D) {
  switch (Round) {
    case 0:  return (B & C) | (~B & D);
    case 1:  return (B & D) | (C & ~D);
    case 2:  return B ^ C ^ D;
    default: return C ^ (B | ~D);
  }
}

// Message word used by step i (RFC 1321: rounds take the words in orders
// i, 5i+1, 3i+5, 7i, all mod 16).
inline unsigned WordIndex(unsigned Step) {
  switch (Step / 16) {
    case 0:  return Step;
    case 1:  return (5 * Step + 1) & 15;
    case 2:  return (3 * Step + 5) & 15;
    default: return (7 * Step) & 15;
  }
}

void Compress(UINT32 State[4], const UINT8 *Block) {
  UINT32 X[16];
  for (unsigned i = 0; i < 16; ++i) {
    X[i] = LoadLe32(Block + 4 * i);
  }
  UINT32 A = State[0], B = State[1], C = State[2], D = State[3];
  for (unsigned Step = 0; Step < 64; ++Step) {
    const unsigned Round = Step / 16;
    const UINT32 Sum = A + RoundFunction(Round, B, C, D) + X[WordIndex(Step)] + SineTable[Step];
    const UINT32 Next = B + RotateLeft32(Sum, Shifts[Round][Step & 3]);
    A = D;
    D = C;
    C = B;
    B = Next;
  }
  State[0] += A;
  State[1] += B;
  State[2] += C;
  State[3] += D;
  Wipe(X);
}

}  // namespace

EFI_STATUS md5_init(md5_ctx *Context) {
  Context->status = EFI_SUCCESS;
  Context->length = 0;
  for (unsigned i = 0; i < 4; ++i) {
    Context->state[i] = InitialState[i];
  }
  FillBytes(Context->block, 0, sizeof(Context->block));
  Context->fill = 0;
  return EFI_SUCCESS;
}

EFI_STATUS md5_update(md5_ctx *Context, const void *Data, UINTN Length) {
  if (EFI_ERROR(Context->status)) {
    return Context->status;
  }
  if (Context->fill >= sizeof(Context->block)) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT8 *Input = static_cast<const UINT8 *>(Data);
  Context->length += Length;
  if (Context->fill != 0) {
    const UINTN Take = Minimum(Length, 64 - Context->fill);
    CopyBytes(Context->block + Context->fill, Input, Take);
    Context->fill += Take;
    Input += Take;
    Length -= Take;
    if (Context->fill < 64) {
      return EFI_SUCCESS;
    }
    Compress(Context->state, Context->block);
    Context->fill = 0;
  }
  for (; Length >= 64; Input += 64, Length -= 64) {
    Compress(Context->state, Input);
  }
  CopyBytes(Context->block, Input, Length);
  Context->fill = Length;
  return EFI_SUCCESS;
}

EFI_STATUS md5_final(md5_ctx *Context, UINT8 *Digest) {
  if (EFI_ERROR(Context->status)) {
    return Context->status;
  }
  if (Context->fill >= sizeof(Context->block)) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT64 BitLength = Context->length * 8;
  UINTN Fill = (UINTN)Context->fill;
  Context->block[Fill++] = 0x80;
  if (Fill > 56) {
    FillBytes(Context->block + Fill, 0, 64 - Fill);
    Compress(Context->state, Context->block);
    Fill = 0;
  }
  FillBytes(Context->block + Fill, 0, 56 - Fill);
  StoreLe64(Context->block + 56, BitLength);
  Compress(Context->state, Context->block);
  for (unsigned i = 0; i < 4; ++i) {
    StoreLe32(Digest + 4 * i, Context->state[i]);
  }
  WipeBytes(Context, sizeof(*Context));
  return EFI_SUCCESS;
}
