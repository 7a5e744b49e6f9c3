// Base types, calling convention, status codes, GUIDs and list entries of the
// UEFI specification. Both drivers and every host tool include this first.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>

// The same fixed-width names in both builds: the EFI target is LLP64 (long is
// 32 bits), the host is LP64, so 64-bit types are spelled "long long".
typedef unsigned char      BOOLEAN;
typedef signed char        INT8;
typedef unsigned char      UINT8;
typedef short              INT16;
typedef unsigned short     UINT16;
typedef int                INT32;
typedef unsigned int       UINT32;
typedef long long          INT64;
typedef unsigned long long UINT64;
typedef long long          INTN;
typedef unsigned long long UINTN;
typedef char               CHAR8;
typedef char16_t           CHAR16;
typedef void               VOID;

typedef UINTN  EFI_STATUS;
typedef VOID  *EFI_HANDLE;
typedef VOID  *EFI_EVENT;
typedef UINTN  EFI_TPL;
typedef UINT64 EFI_LBA;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

static_assert(sizeof(UINTN) == 8 && sizeof(UINT64) == 8 && sizeof(UINT32) == 4, "x64 only");
static_assert(sizeof(CHAR16) == 2, "UTF-16 code units");

constexpr BOOLEAN TRUE  = 1;
constexpr BOOLEAN FALSE = 0;

#define IN
#define OUT
#define OPTIONAL
#define CONST const

// Microsoft x64 calling convention for every interface function. The EFI
// target already uses it; on the host it is requested explicitly so that the
// host environment exercises the real ABI.
#if defined(_MSC_VER) || defined(_WIN32)
#define EFIAPI
#else
#define EFIAPI __attribute__((ms_abi))
#endif

// Variable argument lists of EFIAPI variadic functions.
#if defined(_MSC_VER) || defined(_WIN32)
typedef va_list EFI_VA_LIST;
#define EFI_VA_START(List, Last) va_start(List, Last)
#define EFI_VA_ARG(List, Type)   va_arg(List, Type)
#define EFI_VA_END(List)         va_end(List)
#else
typedef __builtin_ms_va_list EFI_VA_LIST;
#define EFI_VA_START(List, Last) __builtin_ms_va_start(List, Last)
#define EFI_VA_ARG(List, Type)   __builtin_va_arg(List, Type)
#define EFI_VA_END(List)         __builtin_ms_va_end(List)
#endif

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8  Data4[8];
} EFI_GUID;
static_assert(sizeof(EFI_GUID) == 16);

constexpr bool operator==(const EFI_GUID &A, const EFI_GUID &B) {
  if (A.Data1 != B.Data1 || A.Data2 != B.Data2 || A.Data3 != B.Data3) {
    return false;
  }
  for (int i = 0; i < 8; ++i) {
    if (A.Data4[i] != B.Data4[i]) {
      return false;
    }
  }
  return true;
}

typedef struct _LIST_ENTRY LIST_ENTRY;
struct _LIST_ENTRY {
  LIST_ENTRY *ForwardLink;
  LIST_ENTRY *BackLink;
};

typedef struct {
  UINT8 Addr[32];
} EFI_MAC_ADDRESS;

typedef struct {
  UINT8 Addr[4];
} EFI_IPv4_ADDRESS;

// ---------------------------------------------------------------------------
// Status codes
// ---------------------------------------------------------------------------
constexpr UINTN MAX_BIT = 0x8000000000000000ULL;

constexpr EFI_STATUS EncodeError(UINTN Code) { return MAX_BIT | Code; }
constexpr EFI_STATUS EncodeWarning(UINTN Code) { return Code; }
constexpr bool EFI_ERROR(EFI_STATUS Status) { return (INTN)Status < 0; }
constexpr bool RETURN_ERROR(EFI_STATUS Status) { return EFI_ERROR(Status); }

constexpr EFI_STATUS EFI_SUCCESS              = 0;
constexpr EFI_STATUS EFI_LOAD_ERROR           = EncodeError(1);
constexpr EFI_STATUS EFI_INVALID_PARAMETER    = EncodeError(2);
constexpr EFI_STATUS EFI_UNSUPPORTED          = EncodeError(3);
constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE      = EncodeError(4);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL     = EncodeError(5);
constexpr EFI_STATUS EFI_NOT_READY            = EncodeError(6);
constexpr EFI_STATUS EFI_DEVICE_ERROR         = EncodeError(7);
constexpr EFI_STATUS EFI_WRITE_PROTECTED      = EncodeError(8);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES     = EncodeError(9);
constexpr EFI_STATUS EFI_VOLUME_CORRUPTED     = EncodeError(10);
constexpr EFI_STATUS EFI_VOLUME_FULL          = EncodeError(11);
constexpr EFI_STATUS EFI_NO_MEDIA             = EncodeError(12);
constexpr EFI_STATUS EFI_MEDIA_CHANGED        = EncodeError(13);
constexpr EFI_STATUS EFI_NOT_FOUND            = EncodeError(14);
constexpr EFI_STATUS EFI_ACCESS_DENIED        = EncodeError(15);
constexpr EFI_STATUS EFI_NO_RESPONSE          = EncodeError(16);
constexpr EFI_STATUS EFI_NO_MAPPING           = EncodeError(17);
constexpr EFI_STATUS EFI_TIMEOUT              = EncodeError(18);
constexpr EFI_STATUS EFI_NOT_STARTED          = EncodeError(19);
constexpr EFI_STATUS EFI_ALREADY_STARTED      = EncodeError(20);
constexpr EFI_STATUS EFI_ABORTED              = EncodeError(21);
constexpr EFI_STATUS EFI_ICMP_ERROR           = EncodeError(22);
constexpr EFI_STATUS EFI_TFTP_ERROR           = EncodeError(23);
constexpr EFI_STATUS EFI_PROTOCOL_ERROR       = EncodeError(24);
constexpr EFI_STATUS EFI_INCOMPATIBLE_VERSION = EncodeError(25);
constexpr EFI_STATUS EFI_SECURITY_VIOLATION   = EncodeError(26);
constexpr EFI_STATUS EFI_CRC_ERROR            = EncodeError(27);
constexpr EFI_STATUS EFI_END_OF_MEDIA         = EncodeError(28);
constexpr EFI_STATUS EFI_END_OF_FILE          = EncodeError(31);
constexpr EFI_STATUS EFI_INVALID_LANGUAGE     = EncodeError(32);
constexpr EFI_STATUS EFI_COMPROMISED_DATA     = EncodeError(33);
constexpr EFI_STATUS EFI_IP_ADDRESS_CONFLICT  = EncodeError(34);
constexpr EFI_STATUS EFI_HTTP_ERROR           = EncodeError(35);

constexpr EFI_STATUS EFI_WARN_UNKNOWN_GLYPH    = EncodeWarning(1);
constexpr EFI_STATUS EFI_WARN_DELETE_FAILURE   = EncodeWarning(2);
constexpr EFI_STATUS EFI_WARN_WRITE_FAILURE    = EncodeWarning(3);
constexpr EFI_STATUS EFI_WARN_BUFFER_TOO_SMALL = EncodeWarning(4);
constexpr EFI_STATUS EFI_WARN_STALE_DATA       = EncodeWarning(5);
constexpr EFI_STATUS EFI_WARN_FILE_SYSTEM      = EncodeWarning(6);
constexpr EFI_STATUS EFI_WARN_RESET_REQUIRED   = EncodeWarning(7);

// Human-readable name of a status code, as "%r" prints it ("Success",
// "Invalid Parameter", ...). Unknown codes give nullptr; the printer then
// shows the number.
const CHAR8 *EfiStatusName(EFI_STATUS Status);

// Four ASCII characters packed little-endian, the form of record signatures.
constexpr UINT32 SIGNATURE_32(char A, char B, char C, char D) {
  return (UINT32)(UINT8)A | ((UINT32)(UINT8)B << 8) | ((UINT32)(UINT8)C << 16) |
         ((UINT32)(UINT8)D << 24);
}
constexpr UINT64 SIGNATURE_64(char A, char B, char C, char D, char E, char F, char G,
                              char H) {
  return (UINT64)SIGNATURE_32(A, B, C, D) | ((UINT64)SIGNATURE_32(E, F, G, H) << 32);
}
