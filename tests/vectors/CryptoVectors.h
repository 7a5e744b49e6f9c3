// Known-answer vectors of the crypto primitives, from the published
// standards: RFC 1321 (MD5), FIPS 180-4 examples (SHA-1, SHA-256), RFC 2202
// and RFC 4231 (HMAC), IEEE 802.11 Annex J (PRF and pass-phrase to PSK),
// RFC 6070 (PBKDF2-HMAC-SHA1), FIPS 197 Appendix C (AES), RFC 4493 and NIST
// SP 800-38B (AES-CMAC), RFC 3394 (key unwrap), RFC 6229 (RC4). Values the
// standards do not publish (messages of chosen lengths, 64- and 65-octet HMAC
// keys, the SHA-256 KDF cases, a 264-octet wrap, the HMAC-DRBG cases) were
// computed with OpenSSL 3 and, for the KDF and the DRBG, agree with
// independent reference implementations of IEEE 802.11 and NIST SP 800-90A.
//
// Freestanding: the host unit tests and the UEFI test application share it.
// Octet strings are hex text, decoded with DecodeHex.
#pragma once
#include <uefi/Base.h>

namespace crypto_vectors {

constexpr UINTN InvalidHex = ~(UINTN)0;

// Decodes hex text into Out; the octet count, or InvalidHex for malformed
// text or one that does not fit Capacity.
inline UINTN DecodeHex(const CHAR8 *Hex, UINT8 *Out, UINTN Capacity) {
  auto Nibble = [](CHAR8 C) -> int {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
  };
  UINTN Count = 0;
  for (; Hex[0] != '\0'; Hex += 2) {
    const int High = Nibble(Hex[0]);
    const int Low = High < 0 ? -1 : Nibble(Hex[1]);
    if (Low < 0 || Count == Capacity) {
      return InvalidHex;
    }
    Out[Count++] = (UINT8)(High << 4 | Low);
  }
  return Count;
}

inline UINTN TextLength(const CHAR8 *Text) {
  UINTN Length = 0;
  while (Text[Length] != '\0') {
    ++Length;
  }
  return Length;
}

// Message = Text repeated Repeat times.
struct DigestVector {
  const CHAR8 *Name;
  const CHAR8 *Text;
  UINTN        Repeat;
  const CHAR8 *DigestHex;
};

// RFC 1321 appendix A.5 test suite.
inline constexpr DigestVector Md5Vectors[] = {
    {"rfc1321-empty", "", 1,
     "d41d8cd98f00b204e9800998ecf8427e"},
    {"rfc1321-a", "a", 1,
     "0cc175b9c0f1b6a831c399e269772661"},
    {"rfc1321-abc", "abc", 1,
     "900150983cd24fb0d6963f7d28e17f72"},
    {"rfc1321-message-digest", "message digest", 1,
     "f96b697d7cb7938d525a2f31aaf161d0"},
    {"rfc1321-alphabet", "abcdefghijklmnopqrstuvwxyz", 1,
     "c3fcd3d76192e4007dfb496cca67e13b"},
    {"rfc1321-alnum", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 1,
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"rfc1321-digits", "1234567890", 8,
     "57edf4a22be3c955ac49da2e2107b67a"},
};

// FIPS 180-4 examples (one block, two blocks, one million 'a'); messages that leave
// 55, 56, 63 and 64 octets in the last block (and 119, 120: the same one block later).
inline constexpr DigestVector Sha1Vectors[] = {
    {"fips-empty", "", 1,
     "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"fips-abc", "abc", 1,
     "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"fips-448-bit", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"fips-896-bit", "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu", 1,
     "a49b2446a02c645bf419f995b67091253a04a259"},
    {"fips-million-a", "a", 1000000,
     "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {"tail-55", "a", 55,
     "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
    {"tail-56", "a", 56,
     "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
    {"tail-63", "a", 63,
     "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
    {"tail-64", "a", 64,
     "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    {"tail-119", "a", 119,
     "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"},
    {"tail-120", "a", 120,
     "f34c1488385346a55709ba056ddd08280dd4c6d6"},
};

// FIPS 180-4 examples and the same last-block lengths as for SHA-1.
inline constexpr DigestVector Sha256Vectors[] = {
    {"fips-empty", "", 1,
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"fips-abc", "abc", 1,
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"fips-448-bit", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"fips-896-bit", "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu", 1,
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"fips-million-a", "a", 1000000,
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {"tail-55", "a", 55,
     "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {"tail-56", "a", 56,
     "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {"tail-63", "a", 63,
     "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
    {"tail-64", "a", 64,
     "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {"tail-119", "a", 119,
     "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
    {"tail-120", "a", 120,
     "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
};

// MacHex may be shorter than the full MAC (truncated test cases): compare
// that many octets.
struct HmacVector {
  const CHAR8 *Name;
  const CHAR8 *KeyHex;
  const CHAR8 *DataHex;
  const CHAR8 *MacHex;
};

// RFC 2202 section 2 (HMAC-MD5), then a 64-octet key (padded) and a 65-octet key (hashed first).
inline constexpr HmacVector HmacMd5Vectors[] = {
    {"rfc2202-1",
     "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b",
     "4869205468657265",
     "9294727a3638bb1c13f48ef8158bfc9d"},
    {"rfc2202-2",
     "4a656665",
     "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "750c783e6ab0b503eaa86e310a5db738"},
    {"rfc2202-3",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd"
      "dddd",
     "56be34521d144c88dbb8c733f0e8b3f6"},
    {"rfc2202-4",
     "0102030405060708090a0b0c0d0e0f10111213141516171819",
     "cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd"
      "cdcd",
     "697eaf0aca3a3aea3a75164746ffaa79"},
    {"rfc2202-5",
     "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c",
     "546573742057697468205472756e636174696f6e",
     "56461ef2342edc00f9bab995690efd4c"},
    {"rfc2202-6",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b6579202d2048617368204b6579"
      "204669727374",
     "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
    {"rfc2202-7",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b657920616e64204c6172676572"
      "205468616e204f6e6520426c6f636b2d53697a652044617461",
     "6f630fad67cda0ee1fb1f562db3aa53e"},
    {"key-64",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f",
     "53616d706c65206d65737361676520666f72206b65796c656e3d626c6f636b6c656e",
     "fdec0f1ba4d1af508bbab18ff0a32108"},
    {"key-65",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f40",
     "53616d706c65206d65737361676520666f72206b65796c656e3e626c6f636b6c656e",
     "ebdc4a73c02dcca85280bc76bd035ed7"},
};

// RFC 2202 section 3 (HMAC-SHA1), 64- and 65-octet keys, and the empty message.
inline constexpr HmacVector HmacSha1Vectors[] = {
    {"rfc2202-1",
     "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b",
     "4869205468657265",
     "b617318655057264e28bc0b6fb378c8ef146be00"},
    {"rfc2202-2",
     "4a656665",
     "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {"rfc2202-3",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd"
      "dddd",
     "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {"rfc2202-4",
     "0102030405060708090a0b0c0d0e0f10111213141516171819",
     "cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd"
      "cdcd",
     "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {"rfc2202-5",
     "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c",
     "546573742057697468205472756e636174696f6e",
     "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
    {"rfc2202-6",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b6579202d2048617368204b6579"
      "204669727374",
     "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {"rfc2202-7",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b657920616e64204c6172676572"
      "205468616e204f6e6520426c6f636b2d53697a652044617461",
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    {"key-64",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f",
     "53616d706c65206d65737361676520666f72206b65796c656e3d626c6f636b6c656e",
     "5fd596ee78d5553c8ff4e72d266dfd192366da29"},
    {"key-65",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f40",
     "53616d706c65206d65737361676520666f72206b65796c656e3e626c6f636b6c656e",
     "f83bb9632ba750f67c4888807c22212ff4c61ced"},
    {"empty-message",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f",
     "",
     "60bf8c95c85cfa61279a2b9b079aa19d7fa5f31a"},
};

// RFC 4231 section 4 (HMAC-SHA256; case 5 truncated to 128 bits), 64- and 65-octet keys,
// and the empty message.
inline constexpr HmacVector HmacSha256Vectors[] = {
    {"rfc4231-1",
     "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b",
     "4869205468657265",
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {"rfc4231-2",
     "4a656665",
     "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    {"rfc4231-3",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd"
      "dddd",
     "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
    {"rfc4231-4",
     "0102030405060708090a0b0c0d0e0f10111213141516171819",
     "cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd"
      "cdcd",
     "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
    {"rfc4231-5",
     "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c",
     "546573742057697468205472756e636174696f6e",
     "a3b6167473100ee06e0c796c2955552b"},
    {"rfc4231-6",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b6579202d2048617368204b6579"
      "204669727374",
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    {"rfc4231-7",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "5468697320697320612074657374207573696e672061206c6172676572207468616e20626c6f636b2d73697a65206b65"
      "7920616e642061206c6172676572207468616e20626c6f636b2d73697a6520646174612e20546865206b6579206e6565"
      "647320746f20626520686173686564206265666f7265206265696e6720757365642062792074686520484d414320616c"
      "676f726974686d2e",
     "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    {"key-64",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f",
     "53616d706c65206d65737361676520666f72206b65796c656e3d626c6f636b6c656e",
     "8bb9a1db9806f20df7f77b82138c7914d174d59e13dc4d0169c9057b133e1d62"},
    {"key-65",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f40",
     "53616d706c65206d65737361676520666f72206b65796c656e3e626c6f636b6c656e",
     "4ff3277ad969043f9af2a99f501b1c416b93d9eef26fec4a501444e24bdb1459"},
    {"empty-message",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f"
      "303132333435363738393a3b3c3d3e3f",
     "",
     "3499f163f48604c0b15ac89e4e7c66f314fb3b203b8ac2f564828e62f6be9d9d"},
};

// prf_sha1: OutLength octets asked for; OutHex holds every octet written
// (whole 20-octet blocks).
struct PrfVector {
  const CHAR8 *Name;
  const CHAR8 *KeyHex;
  const CHAR8 *Label;
  const CHAR8 *DataHex;
  UINTN        OutLength;
  const CHAR8 *OutHex;
};

// IEEE 802.11 Annex J, PRF test vectors (PRF-512), and a one-block case.
inline constexpr PrfVector PrfVectors[] = {
    {"annex-j-1",
     "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b",
     "prefix",
     "4869205468657265",
     64,
     "bcd4c650b30b9684951829e0d75f9d54b862175ed9f00606e17d8da35402ffee75df78c3d31e0f889f012120c0862beb"
      "67753e7439ae242edb8373698356cf5a209b346755f01094184b9fc56a7426c3"},
    {"annex-j-2",
     "4a656665",
     "prefix-2",
     "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     64,
     "47c4908e30c947521ad20be9053450ecbea23d3aa604b77326d8b3825ff7475c06f51fb9c5313d1e9f90d897d134b72e"
      "090fc23150bc8414382043418678e700981471f740c97a5b39505f84da307251"},
    {"annex-j-3",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "prefix-3",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b6579202d2048617368204b6579"
      "204669727374",
     64,
     "0ab6c33ccf70d0d736f4b04c8a7373255511abc5073713163bd0b8c9eeb7e1956fa066820a73ddee3f6d3bd407e0682a"
      "8b21b58b67358e7a423c3a7b02f154f302b7c520b889a3858c38b1cb0feaf7a3"},
    {"one-block",
     "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b",
     "prefix",
     "4869205468657265",
     20,
     "bcd4c650b30b9684951829e0d75f9d54b862175e"},
};

struct PskVector {
  const CHAR8 *Name;
  const CHAR8 *Passphrase;
  const CHAR8 *Ssid;
  const CHAR8 *PskHex;
};

// IEEE 802.11 Annex J, pass-phrase to PSK mapping, and the longest accepted
// pass phrase (63 octets) with the longest SSID (32 octets).
inline constexpr PskVector PskVectors[] = {
    {"annex-j-1", "password", "IEEE",
     "f42c6fc52df0ebef9ebb4b90b38a5f902e83fe1b135a70e23aed762e9710a12e"},
    {"annex-j-2", "ThisIsAPassword", "ThisIsASSID",
     "0dc0d6eb90555ed6419756b9a15ec3e3209b63df707dd508d14581f8982721af"},
    {"annex-j-3", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "ZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ",
     "becb93866bb8c3832cb777c2f559807c8c59afcb6eae734885001300a981cc62"},
    {"limits-63-32", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "ssssssssssssssssssssssssssssssss",
     "5d0be8b5f0568f21a0a34ad13fda898701b6b625ea05ff5818983f7521006803"},
};

// pbkdf2_sha1_block, block index 1.
struct Pbkdf2Vector {
  const CHAR8 *Name;
  const CHAR8 *Passphrase;
  const CHAR8 *Salt;
  UINTN        Iterations;
  const CHAR8 *BlockHex;
};

// RFC 6070 (PBKDF2-HMAC-SHA1), first block.
inline constexpr Pbkdf2Vector Pbkdf2Vectors[] = {
    {"rfc6070-1", "password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
    {"rfc6070-2", "password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
    {"rfc6070-4096", "password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
};

// kdf_sha256_bits (OutBits) / kdf_sha256 (OutBits / 8 octets when a whole
// number): the length field is OutBits, little-endian.
struct KdfVector {
  const CHAR8 *Name;
  const CHAR8 *KeyHex;
  const CHAR8 *Label;
  const CHAR8 *DataHex;
  UINTN        OutBits;
  const CHAR8 *OutHex;
};

// PTK-sized output (384 bits: length field 0x80 0x01, a partial second
// block), the SAE key derivation size (512 bits, two whole blocks), a P-521
// sized output (521 bits: 66 octets, the last keeping its top bit only) and a
// single partial block with empty data.
inline constexpr KdfVector KdfVectors[] = {
    {"ptk-384",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "Pairwise key expansion",
     "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f606162636465666768696a6b6c6d6e6f"
      "707172737475767778797a7b7c7d7e7f808182838485868788898a8b",
     384,
     "cc8e1d016fea59750ab127aa718431afb424cb52f0e39c1f99491d078a4f1fc8989889186b9f3827ecc1092ab64587dd"},
    {"sae-512",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "SAE KCK and PMK",
     "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f",
     512,
     "b1352bc7fa2ef28b1de4aef62b2f921e277bd5d54b2b2ef4f0c4e9618a648453b1d99181bcdb29feef1dc306898da517"
      "fe5d3b007ebc4c0faf08d5679378bf9b"},
    {"mask-521",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "SAE Hunting and Pecking",
     "101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f"
      "404142434445464748494a4b4c4d4e4f5051",
     521,
     "a99ffaa26352eebe3daa59f703f3eb2e049aa9a6e24c1129c8c8ca5808837cfd87a8b9fc7e2678381d84fb499b0c57ba"
      "9b90219980b94333930111070df108793180"},
    {"short-160",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "Test label",
     "",
     160,
     "6a0ff8d63f41cc29f9ff81bc8c435c4a1ac2fad9"},
};

struct AesVector {
  const CHAR8 *Name;
  const CHAR8 *KeyHex;
  const CHAR8 *PlainHex;
  const CHAR8 *CipherHex;
};

// FIPS 197 Appendix C.1-C.3.
inline constexpr AesVector AesVectors[] = {
    {"fips197-128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"fips197-192", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"fips197-256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

struct CmacVector {
  const CHAR8 *Name;
  const CHAR8 *KeyHex;
  const CHAR8 *MessageHex;
  const CHAR8 *MacHex;
};

// RFC 4493 section 4: subkeys of the example key, and the tags of 0, 16, 40
// and 64 octets; then 32 (last block complete, K1) and 33 octets (padded, K2);
// then NIST SP 800-38B appendix D with 192- and 256-bit keys.
inline constexpr CHAR8 CmacKeyHex[] = "2b7e151628aed2a6abf7158809cf4f3c";
inline constexpr CHAR8 CmacK1Hex[]  = "fbeed618357133667c85e08f7236a8de";
inline constexpr CHAR8 CmacK2Hex[]  = "f7ddac306ae266ccf90bc11ee46d513b";
inline constexpr CmacVector CmacVectors[] = {
    {"rfc4493-0", "2b7e151628aed2a6abf7158809cf4f3c",
     "",
     "bb1d6929e95937287fa37d129b756746"},
    {"rfc4493-16", "2b7e151628aed2a6abf7158809cf4f3c",
     "6bc1bee22e409f96e93d7e117393172a",
     "070a16b46b4d4144f79bdd9dd04a287c"},
    {"rfc4493-40", "2b7e151628aed2a6abf7158809cf4f3c",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411",
     "dfa66747de9ae63030ca32611497c827"},
    {"rfc4493-64", "2b7e151628aed2a6abf7158809cf4f3c",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52ef"
      "f69f2445df4f9b17ad2b417be66c3710",
     "51f0bebf7e3b9d92fc49741779363cfe"},
    {"complete-32", "2b7e151628aed2a6abf7158809cf4f3c",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
     "ce0cbf1738f4df6428b1d93bf12081c9"},
    {"padded-33", "2b7e151628aed2a6abf7158809cf4f3c",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130",
     "cb8006fd4b9a8313333943ad6eb92797"},
    {"sp800-38b-192-0",
     "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "",
     "d17ddf46adaacde531cac483de7a9367"},
    {"sp800-38b-192-64",
     "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52ef"
      "f69f2445df4f9b17ad2b417be66c3710",
     "a1d5df0eed790f794d77589659f39a11"},
    {"sp800-38b-256-0",
     "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "",
     "028962f61b7bf89efc6b551f4667d983"},
    {"sp800-38b-256-64",
     "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52ef"
      "f69f2445df4f9b17ad2b417be66c3710",
     "e1992190549f6ed5696a2c056c315410"},
};

struct UnwrapVector {
  const CHAR8 *Name;
  const CHAR8 *KekHex;
  const CHAR8 *WrappedHex;
  const CHAR8 *KeyDataHex;
};

// RFC 3394 section 4.1 (128-bit key data, 128-bit KEK), and the largest
// input the unwrap takes: 264 octets (32 blocks of key data, t up to 192).
inline constexpr UnwrapVector UnwrapVectors[] = {
    {"rfc3394-4.1", "000102030405060708090a0b0c0d0e0f", "1fa68b0a8112b447aef34bd8fb5a7b829d3e862371d2cfe5",
     "00112233445566778899aabbccddeeff"},
    {"max-264", "8899aabbccddeeff0011223344556677",
     "c5d566540ee07789206f9f80e2fa6b21cae39e77b8509e18f0062092d4be3dbee6cc0474f90e3a67b93d6687eb1b0fa8"
      "f8aca59b4b07086f1bd37dd4866985254961559ea5af67f9689abb30f870e063d371d97a858a43a8552d883e1dc96d26"
      "8bf8184a6ba490e71a8971b1fbc6673f8001e1af0c3de8ed0b743a46cf73d91f39658c9cfb1005f14975a6ad99f0c539"
      "a053fb1be681c8aa766f4710e8122cfe8b7713553c2a247ffd7d399e15d8024e1801bb3a4044be96351ee613c1221950"
      "66990a916802deef6a954f86232acf36969eff5a6eb94f871b8b293d23ab564f60af61ca0e291ce0569a2b8d3c5e64a8"
      "c0ba138b7aa7c314b2d40ba5e9eab6bb8acfc527a73acd01",
     "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d4bf5122f344554c53bde2ebb8cd2b7e3"
      "d1600ad631c385a5d7cce23c7785459adbc1b4c900ffe48d575b5da5c638040125f65db0fe3e24494b76ea986457d986"
      "084fed08b978af4d7d196a7446a86b58009e636b611db16211b65a9aadff29c5e52d9c508c502347344d8c07ad91cbd6"
      "068afc75ff6292f062a09ca381c89e71e77b9a9ae9e30b0dbdb6f510a264ef9de781501d7b6b92ae89eb059c5ab743db"
      "67586e98fad27da0b9968bc039a1ef34c939b9b8e523a8bef89d478608c5ecf6ca358758f6d27e6cf45272937977a748"
      "fd88391db679ceda7dc7bf1f005ee879"},
};

struct Rc4Vector {
  const CHAR8 *Name;
  const CHAR8 *KeyHex;
  UINTN        Offset;  // keystream octets discarded first
  const CHAR8 *KeystreamHex;
};

// RFC 6229 section 2: keystream at offsets 0 and 256 (the skip that the
// WPA key data decryption uses).
inline constexpr Rc4Vector Rc4Vectors[] = {
    {"rfc6229-40-bit-offset-0", "0102030405", 0,
     "b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919"},
    {"rfc6229-40-bit-offset-256", "0102030405", 256,
     "1cfcf62b03eddb641d77dfcf7f8d8c935f49b218ec83ce6ad6b6a70f36c560e6"},
    {"rfc6229-128-bit-offset-0", "0102030405060708090a0b0c0d0e0f10", 0,
     "9ac7cc9a609d1ef7b2932899cde41b975248c4959014126a6e8a84f11d1a9e1c"},
    {"rfc6229-128-bit-offset-256", "0102030405060708090a0b0c0d0e0f10", 256,
     "d39d566bc6bce3010768151549f3873fe609f0c1d7279cc6fbb0b40a863546ed"},
    {"rfc6229-56-bit-offset-0", "1910833222772a", 0,
     "bc9222dbd3274d8fc66d14ccbda6690b7ae627410c9a2be693df5bb7485a63e3"},
    {"rfc6229-56-bit-offset-256", "1910833222772a", 256,
     "beaa9ec8d59bb68129f3027c963611819ca0f42e568e113475b7c79452185fd2"},
};

// HMAC-DRBG (SHA-256), no reseed, no prediction resistance, in the shape of
// the NIST CAVP tests: instantiate, generate 128 octets (Additional1), generate
// 128 octets (Additional2); Output is the second block.
struct DrbgVector {
  const CHAR8 *Name;
  const CHAR8 *EntropyHex;
  const CHAR8 *NonceHex;
  const CHAR8 *PersonalizationHex;
  const CHAR8 *Additional1Hex;
  const CHAR8 *Additional2Hex;
  const CHAR8 *OutputHex;
};

inline constexpr UINTN DrbgOutputLength = 128;
inline constexpr DrbgVector DrbgVectors[] = {
    {"plain",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "202122232425262728292a2b2c2d2e2f",
     "",
     "",
     "",
     "f3f5ea84d3a45fa2dee0071c508d64f6d0de295777226be6a3d5ed5b0301c7bc22a223ab52c6c712357c7ba25829445a"
      "e26da7e4ec99715fe62e41fdd8737d8c970eb25fb50942a63d472e913699a369fc5923bc73c1e2fb8bb15090df398cbb"
      "1f73b2e0ea42233580c1ba1f19339e0b66934e46bb09d5865d668a4a52f0b3ec"},
    {"personalized-additional",
     "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f",
     "202122232425262728292a2b2c2d2e2f",
     "c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf",
     "606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f",
     "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf",
     "6b4d4cae25104adf5fe477604dbad7fd5cdb5156c044a9ac3747456ff9d3c324572090726e94cbdb22eee0ed76ce46c3"
      "d7b9e157776d44190aee72915131d23f99a970564c5b19bed9eea6211d3a8c10c0f7ea4296d490d7dde4652d489502bc"
      "e9f5db1693c5e28058e5865bd7636d9ecef3d0338c7066df19cac8220afc109f"},
};

}  // namespace crypto_vectors
