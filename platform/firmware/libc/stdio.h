/* Firmware libc shim. A few mbedtls sources include this header for their
   formatted output, which the configuration routes to sup_mbedtls_snprintf;
   no stream and no function of the C library is used. */
#ifndef FW_LIBC_STDIO_H
#define FW_LIBC_STDIO_H

#include <stdarg.h>
#include <stddef.h>

#endif
