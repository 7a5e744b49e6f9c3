/* Firmware libc shim. There are no C streams in the image; mbedtls only
   needs the header for declarations it does not use in this configuration. */
#ifndef FW_LIBC_STDIO_H
#define FW_LIBC_STDIO_H

#include <stddef.h>

#endif
