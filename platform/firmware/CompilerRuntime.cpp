// The few C runtime routines clang emits calls to (structure copies, large
// zero-initialisers) and that the mbedtls sources call. Built with
// -ffreestanding and -fno-builtin so these loops are not turned back into
// calls to themselves.
#include <uefi/Base.h>

extern "C" {

void *memcpy(void *Destination, const void *Source, size_t Length) {
  auto *D = static_cast<unsigned char *>(Destination);
  const auto *S = static_cast<const unsigned char *>(Source);
  while (Length-- != 0) {
    *D++ = *S++;
  }
  return Destination;
}

void *memmove(void *Destination, const void *Source, size_t Length) {
  auto *D = static_cast<unsigned char *>(Destination);
  const auto *S = static_cast<const unsigned char *>(Source);
  if (D < S) {
    while (Length-- != 0) {
      *D++ = *S++;
    }
  } else if (D > S) {
    D += Length;
    S += Length;
    while (Length-- != 0) {
      *--D = *--S;
    }
  }
  return Destination;
}

void *memset(void *Buffer, int Value, size_t Length) {
  auto *B = static_cast<unsigned char *>(Buffer);
  while (Length-- != 0) {
    *B++ = static_cast<unsigned char>(Value);
  }
  return Buffer;
}

int memcmp(const void *First, const void *Second, size_t Length) {
  const auto *A = static_cast<const unsigned char *>(First);
  const auto *B = static_cast<const unsigned char *>(Second);
  for (size_t Index = 0; Index < Length; ++Index) {
    if (A[Index] != B[Index]) {
      return A[Index] < B[Index] ? -1 : 1;
    }
  }
  return 0;
}

size_t strlen(const char *String) {
  size_t Length = 0;
  while (String[Length] != '\0') {
    ++Length;
  }
  return Length;
}

int strcmp(const char *First, const char *Second) {
  while (*First != '\0' && *First == *Second) {
    ++First;
    ++Second;
  }
  return (unsigned char)*First - (unsigned char)*Second;
}

// const_cast as in C, whose signatures take const and return non-const.
char *strchr(const char *String, int Character) {
  const char Wanted = static_cast<char>(Character);
  for (;; ++String) {
    if (*String == Wanted) {
      return const_cast<char *>(String);
    }
    if (*String == '\0') {
      return nullptr;
    }
  }
}

char *strstr(const char *String, const char *Needle) {
  for (;; ++String) {
    // Stops at the first difference, so never reads past String's end.
    size_t Index = 0;
    while (Needle[Index] != '\0' && String[Index] == Needle[Index]) {
      ++Index;
    }
    if (Needle[Index] == '\0') {
      return const_cast<char *>(String);
    }
    if (*String == '\0') {
      return nullptr;
    }
  }
}

}  // extern "C"
