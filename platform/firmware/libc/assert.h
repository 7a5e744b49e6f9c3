/* Firmware libc shim. mbedtls uses assert() only for conditions it has
   already checked; the image compiles it away. Static assertions keep
   working. */
#ifndef FW_LIBC_ASSERT_H
#define FW_LIBC_ASSERT_H

#undef assert
#define assert(Expression) ((void)0)

#if !defined(__cplusplus) && !defined(static_assert)
#define static_assert _Static_assert
#endif

#endif
