// The compiler's own x86 intrinsic headers. In the Microsoft-ABI (EFI) build
// clang's <immintrin.h> only pulls in the headers of extensions the whole
// build enables; the crypto code enables them per function with target
// attributes instead, so the headers it needs are included explicitly.
#pragma once
#include <immintrin.h>
#if defined(_MSC_VER)
#include <smmintrin.h>
#include <tmmintrin.h>
#include <wmmintrin.h>
#include <shaintrin.h>
#endif

#define CRYPTO_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))
#define CRYPTO_TARGET_AES __attribute__((target("aes,sse2")))
