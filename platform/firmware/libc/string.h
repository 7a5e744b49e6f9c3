/* Firmware libc shim: the string functions the image provides
   (platform/firmware/CompilerRuntime.cpp). Headers only. */
#ifndef FW_LIBC_STRING_H
#define FW_LIBC_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif
void  *memcpy(void *Destination, const void *Source, size_t Length);
void  *memmove(void *Destination, const void *Source, size_t Length);
void  *memset(void *Buffer, int Value, size_t Length);
int    memcmp(const void *First, const void *Second, size_t Length);
size_t strlen(const char *String);
int    strcmp(const char *First, const char *Second);
char  *strchr(const char *String, int Character);
char  *strstr(const char *String, const char *Needle);
#ifdef __cplusplus
}
#endif

#endif
