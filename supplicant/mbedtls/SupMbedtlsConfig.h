/*
 * mbedtls (3.6) configuration of the supplicant, the same for the EFI image
 * and the host build, the driver and the tools:
 *  - big numbers and P-256 for SAE;
 *  - TLS 1.2 client and server with X.509 for EAP-TLS: ECDHE-ECDSA and
 *    ECDHE-RSA with AES-GCM only, certificates signed with ECDSA (P-256,
 *    P-384) or RSA (PKCS#1 v1.5 and PSS), private keys in PEM or DER, PKCS#8
 *    encrypted with PBES2 or legacy PEM encryption.
 * Nothing else: no entropy module and no DRBG (every call that needs random
 * bytes is given the caller's generator, the driver's HMAC-DRBG), no time
 * (the driver checks certificate validity itself against the firmware
 * clock), no file or network I/O, no PSA core.
 *
 * Every allocation goes to the UEFI pool through the two hooks below, so the
 * host environment's pool accounting and out-of-memory injection see mbedtls
 * too. mbedtls/build_info.h includes this file and checks it itself.
 *
 * Read by C (mbedtls itself) and C++ (the SAE layer, the TLS users).
 */
#ifndef SUP_MBEDTLS_CONFIG_H
#define SUP_MBEDTLS_CONFIG_H

#include <stdarg.h>
#include <stddef.h>

/* Platform. */
#define MBEDTLS_PLATFORM_C
#define MBEDTLS_PLATFORM_MEMORY
#define MBEDTLS_PLATFORM_NO_STD_FUNCTIONS
#define MBEDTLS_PLATFORM_STD_CALLOC sup_mbedtls_calloc
#define MBEDTLS_PLATFORM_STD_FREE   sup_mbedtls_free
/* X.509 formats names and numbers (error reports, distinguished names) with
   snprintf; there is no C library, so our own small one serves both builds. */
#define MBEDTLS_PLATFORM_SNPRINTF_MACRO  sup_mbedtls_snprintf
#define MBEDTLS_PLATFORM_VSNPRINTF_MACRO sup_mbedtls_vsnprintf

/* mbedtls/debug.h would include <inttypes.h> for the format of a time value
   that only the debug module prints; the image has no such header. */
#define MBEDTLS_PRINTF_MS_TIME "lld"

/* The generator's comb table: the host's tools and benchmarks use mbedtls as
   the reference and keep it. In the image, group 19's arithmetic is ours and
   TLS multiplies by the generator a few times per connection, so there the
   table would only take room. SUP_MBEDTLS_IMAGE comes from the build, for
   every user of the headers alike. */
#if defined(SUP_MBEDTLS_IMAGE)
#define MBEDTLS_ECP_FIXED_POINT_OPTIM 0
#endif

/* Inline assembly for the multiply-accumulate loops where the compiler
   supports it (the host); the EFI build (MSVC mode) takes the portable C. */
#define MBEDTLS_HAVE_ASM

/* The default definition includes <sal.h> in MSVC mode, which the firmware
   build does not have; clang and gcc both know this attribute. */
#define MBEDTLS_CHECK_RETURN __attribute__((__warn_unused_result__))

/* Big numbers and curves: P-256 for SAE and TLS key exchange, P-384 for
   certificates signed with it. */
#define MBEDTLS_BIGNUM_C
#define MBEDTLS_ECP_C
#define MBEDTLS_ECP_DP_SECP256R1_ENABLED
#define MBEDTLS_ECP_DP_SECP384R1_ENABLED
#define MBEDTLS_ECP_NIST_OPTIM
#define MBEDTLS_ECDH_C
#define MBEDTLS_ECDSA_C
#define MBEDTLS_RSA_C
#define MBEDTLS_PKCS1_V15
#define MBEDTLS_PKCS1_V21

/* Hashes and ciphers. MD5 only derives the key of legacy encrypted PEM
   files; SHA-1 only serves PBKDF2-HMAC-SHA1 in encrypted PKCS#8 keys (the
   default certificate profile and TLS signature list leave both out). */
#define MBEDTLS_MD_C
#define MBEDTLS_MD5_C
#define MBEDTLS_SHA1_C
#define MBEDTLS_SHA256_C
#define MBEDTLS_SHA384_C
#define MBEDTLS_SHA512_C
#define MBEDTLS_CIPHER_C
#define MBEDTLS_AES_C
#define MBEDTLS_AES_ROM_TABLES
#define MBEDTLS_AES_FEWER_TABLES
#define MBEDTLS_GCM_C
#define MBEDTLS_CIPHER_MODE_CBC
#define MBEDTLS_CIPHER_PADDING_PKCS7

/* Keys and certificates. */
#define MBEDTLS_ASN1_PARSE_C
#define MBEDTLS_ASN1_WRITE_C
#define MBEDTLS_OID_C
#define MBEDTLS_BASE64_C
#define MBEDTLS_PEM_PARSE_C
#define MBEDTLS_PK_C
#define MBEDTLS_PK_PARSE_C
#define MBEDTLS_PKCS5_C
#define MBEDTLS_X509_USE_C
#define MBEDTLS_X509_CRT_PARSE_C
#define MBEDTLS_X509_RSASSA_PSS_SUPPORT

/* TLS 1.2, both ends: the driver is the client, the tools' EAP server the
   server. Extended master secret (RFC 7627) binds the keys to the whole
   handshake; the keying-material exporter gives EAP-TLS its key material
   (RFC 5216: the TLS PRF with label "client EAP encryption" over the two
   randoms, which is the RFC 5705 exporter without context). */
#define MBEDTLS_SSL_TLS_C
#define MBEDTLS_SSL_CLI_C
#define MBEDTLS_SSL_SRV_C
#define MBEDTLS_SSL_PROTO_TLS1_2
#define MBEDTLS_KEY_EXCHANGE_ECDHE_ECDSA_ENABLED
#define MBEDTLS_KEY_EXCHANGE_ECDHE_RSA_ENABLED
#define MBEDTLS_SSL_EXTENDED_MASTER_SECRET
#define MBEDTLS_SSL_KEEP_PEER_CERTIFICATE
#define MBEDTLS_SSL_KEYING_MATERIAL_EXPORT
#define MBEDTLS_SSL_ALL_ALERT_MESSAGES
#define MBEDTLS_SSL_CIPHERSUITES                              \
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,          \
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,          \
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,            \
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256

#ifdef __cplusplus
extern "C" {
#endif
/* Zero-filled Count * Size bytes from the pool; NULL on overflow or when the
   pool is exhausted. */
void *sup_mbedtls_calloc(size_t Count, size_t Size);
/* Returns a block to the pool; NULL is ignored. */
void sup_mbedtls_free(void *Block);
/* C99 snprintf / vsnprintf for the conversions mbedtls uses: %d %i %u %x %X
   %c %s %%, the flags '-' and '0', a field width and a precision (digits or
   '*'), the length modifiers l, ll and z. Always terminates a non-empty
   buffer; returns the length the full output would have had. */
int sup_mbedtls_snprintf(char *Buffer, size_t Size, const char *Format, ...);
int sup_mbedtls_vsnprintf(char *Buffer, size_t Size, const char *Format, va_list Arguments);
#ifdef __cplusplus
}
#endif

#endif /* SUP_MBEDTLS_CONFIG_H */
