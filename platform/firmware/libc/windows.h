/* Firmware libc shim. The image's compiler target defines _WIN32, so mbedtls
   includes this header and clears secrets with SecureZeroMemory; that is all
   it takes from here. The volatile stores cannot be optimised away. */
#ifndef FW_LIBC_WINDOWS_H
#define FW_LIBC_WINDOWS_H

#include <stddef.h>

static inline void *SecureZeroMemory(void *Buffer, size_t Length) {
  volatile unsigned char *Byte = (volatile unsigned char *)Buffer;
  while (Length-- != 0) {
    *Byte++ = 0;
  }
  return Buffer;
}

#endif
