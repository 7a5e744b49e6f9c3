/* Firmware libc shim. mbedtls is built without MBEDTLS_HAVE_TIME; the types
   exist only so that its headers parse. */
#ifndef FW_LIBC_TIME_H
#define FW_LIBC_TIME_H

typedef long long time_t;
struct tm;

#endif
