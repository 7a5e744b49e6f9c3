/* Firmware libc shim. mbedtls includes this header but, configured with
   MBEDTLS_PLATFORM_NO_STD_FUNCTIONS, uses nothing from it: it allocates
   through its platform hooks on the UEFI pool. */
#ifndef FW_LIBC_STDLIB_H
#define FW_LIBC_STDLIB_H

#include <stddef.h>

#endif
