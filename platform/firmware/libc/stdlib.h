/* Firmware libc shim. The image has no C allocator or process functions:
   mbedtls allocates through its platform hooks on the UEFI pool. */
#ifndef FW_LIBC_STDLIB_H
#define FW_LIBC_STDLIB_H

#include <stddef.h>

#endif
