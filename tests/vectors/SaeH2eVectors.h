// Known answers of SAE hash-to-element on group 19: HKDF-SHA-256 (RFC 5869
// test cases 1 to 3), the simplified SWU map of P-256 (RFC 9380 Appendix J,
// suite P256_XMD:SHA-256_SSWU_NU_: u and the point Q it maps to) and the PT
// of the IEEE 802.11 hash-to-element example (SSID "byteme", password
// "mekmitasdigoat", password identifier "psk4internet"; x only).
//
// Freestanding like CryptoVectors.h; hex text decoded with DecodeHex.
#pragma once
#include <uefi/Base.h>

namespace sae_h2e_vectors {

struct HkdfVector {
  const CHAR8 *Ikm;
  const CHAR8 *Salt;
  const CHAR8 *Info;
  UINTN        Length;
  const CHAR8 *Prk;
  const CHAR8 *Okm;
};

inline constexpr HkdfVector HkdfVectors[] = {
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "000102030405060708090a0b0c", "f0f1f2f3f4f5f6f7f8f9", 42,
     "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5",
     "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f303132333435"
     "363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f",
     "606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f808182838485868788898a8b8c8d8e8f909192939495"
     "969798999a9b9c9d9e9fa0a1a2a3a4a5a6a7a8a9aaabacadaeaf",
     "b0b1b2b3b4b5b6b7b8b9babbbcbdbebfc0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedfe0e1e2e3e4e5"
     "e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     82, "06a6b88c5853361a06104c9ceb35b45cef760014904671014a193f40c15fc244",
     "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c2f0"
     "9b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
    // Empty salt and info.
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "", "", 42,
     "19ef24a32c717b167f33a91d6f648bdf96596776afdb6377ac434c1c293ccb04",
     "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
};

struct MapVector {
  const CHAR8 *U;
  const CHAR8 *X;
  const CHAR8 *Y;
};

inline constexpr MapVector MapToCurveVectors[] = {
    {"84bc3167da0939bc7130e749558acfa0001eaf26990b6f9565a88272edb162a6",
     "2b1b6eb1989d3fb644a4d2962e5adab24444abf37963e3ee5c3a47aa864c0899",
     "6b49f459088caf7588cde4650fba46f72870fe5bde98d170153bd83d467caddc"},
    {"03f880f3c4b02f3afdfbb79f5a68f52a52dda11bb18bc615693cc39e88eaef0e",
     "3a7c9353213d23c67286117b783863d0fcf0741df89680eb8678dc3482aa4294",
     "d023fd86e73e383327ebb25b1fc3980d0048c2c31a9927a6585ffb127f8b4262"},
    {"6d895387b21ede1286f10a00bdc9543c2c33e3075287015ad5049486aafc8155",
     "dc152e051787dfe673e1bfe48a72c5814c559e66c8e1a369084cbe73929d0ae3",
     "12162397d8f3235e978e7aca400f78135f3de76b8f58c1fe4bf39ad4be424e0f"},
    {"91cb15a547813dad8255626afab8db2937bf9136e3e140a2281dda77568f0ae3",
     "bdff5810ac42130719752d50ccc5f79e169e90a90cda984c311f6bad8e77fb44",
     "73aa23cfb08dd1ed92d770152d59b7e2b63176ceb664bdcae8153d83609dd2e5"},
};

struct PtVector {
  const CHAR8 *Ssid;
  const CHAR8 *Password;
  const CHAR8 *Identifier;
  const CHAR8 *PtX;
};

inline constexpr PtVector PtVectorWithIdentifier = {"byteme", "mekmitasdigoat", "psk4internet",
                                                    "b6e38c98750c684b5d17c3d8c9a4100b39931279187ca6cced5f37ef46ddfa97"};

}  // namespace sae_h2e_vectors
