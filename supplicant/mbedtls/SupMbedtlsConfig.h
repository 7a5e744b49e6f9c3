/*
 * mbedtls (3.6) configuration of the supplicant, the same for the EFI image
 * and the host build: big numbers and the P-256 curve, nothing else. Every
 * point multiplication is given the caller's random callback for blinding,
 * so mbedtls needs no random generator of its own. mbedtls/build_info.h
 * includes this file and then checks the configuration itself. Every allocation
 * goes to the UEFI pool through the two hooks below, so the host
 * environment's pool accounting and out-of-memory injection see mbedtls too.
 *
 * Read by C (mbedtls itself) and C++ (the SAE layer).
 */
#ifndef SUP_MBEDTLS_CONFIG_H
#define SUP_MBEDTLS_CONFIG_H

#include <stddef.h>

/* Modules. */
#define MBEDTLS_BIGNUM_C
#define MBEDTLS_ECP_C
#define MBEDTLS_ECP_DP_SECP256R1_ENABLED
#define MBEDTLS_PLATFORM_C

/* mbedtls' own P-256 speed-ups (the fast reduction, the generator's comb
   table): the host's tools and benchmarks multiply with mbedtls as the
   reference. The image never does (group 19's arithmetic is ours, mbedtls
   only loads the constants and encodes points), so there they would only
   take room. SUP_MBEDTLS_IMAGE comes from the build, for every user of the
   headers alike. */
#if !defined(SUP_MBEDTLS_IMAGE)
#define MBEDTLS_ECP_NIST_OPTIM
#else
#define MBEDTLS_ECP_FIXED_POINT_OPTIM 0
#endif

/* Inline assembly for the multiply-accumulate loops where the compiler
   supports it (the host); the EFI build (MSVC mode) takes the portable C. */
#define MBEDTLS_HAVE_ASM

/* Memory: no C library allocator, only the pool. */
#define MBEDTLS_PLATFORM_MEMORY
#define MBEDTLS_PLATFORM_NO_STD_FUNCTIONS
#define MBEDTLS_PLATFORM_STD_CALLOC sup_mbedtls_calloc
#define MBEDTLS_PLATFORM_STD_FREE   sup_mbedtls_free

/* The default definition includes <sal.h> in MSVC mode, which the firmware
   build does not have; clang and gcc both know this attribute. */
#define MBEDTLS_CHECK_RETURN __attribute__((__warn_unused_result__))

#ifdef __cplusplus
extern "C" {
#endif
/* Zero-filled Count * Size bytes from the pool; NULL on overflow or when the
   pool is exhausted. */
void *sup_mbedtls_calloc(size_t Count, size_t Size);
/* Returns a block to the pool; NULL is ignored. */
void sup_mbedtls_free(void *Block);
#ifdef __cplusplus
}
#endif

#endif /* SUP_MBEDTLS_CONFIG_H */
