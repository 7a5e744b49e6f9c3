// The DXE services table of the Platform Initialization specification, found
// in the configuration table under gEfiDxeServicesTableGuid. Only the global
// coherency domain (GCD) memory services carry full signatures; the rest keep
// their places as opaque pointers.
#pragma once
#include <uefi/SystemTable.h>

typedef enum {
  EfiGcdMemoryTypeNonExistent,
  EfiGcdMemoryTypeReserved,
  EfiGcdMemoryTypeSystemMemory,
  EfiGcdMemoryTypeMemoryMappedIo,
  EfiGcdMemoryTypePersistent,
  EfiGcdMemoryTypeMoreReliable,
  EfiGcdMemoryTypeUnaccepted,
  EfiGcdMemoryTypeMaximum
} EFI_GCD_MEMORY_TYPE;

typedef enum {
  EfiGcdIoTypeNonExistent,
  EfiGcdIoTypeReserved,
  EfiGcdIoTypeIo,
  EfiGcdIoTypeMaximum
} EFI_GCD_IO_TYPE;

typedef enum {
  EfiGcdAllocateAnySearchBottomUp,
  EfiGcdAllocateMaxAddressSearchBottomUp,
  EfiGcdAllocateAddress,
  EfiGcdAllocateAnySearchTopDown,
  EfiGcdAllocateMaxAddressSearchTopDown,
  EfiGcdMaxAllocateType
} EFI_GCD_ALLOCATE_TYPE;

typedef struct {
  EFI_PHYSICAL_ADDRESS BaseAddress;
  UINT64               Length;
  UINT64               Capabilities;
  UINT64               Attributes;
  EFI_GCD_MEMORY_TYPE  GcdMemoryType;
  EFI_HANDLE           ImageHandle;
  EFI_HANDLE           DeviceHandle;
} EFI_GCD_MEMORY_SPACE_DESCRIPTOR;

typedef EFI_STATUS(EFIAPI *EFI_ADD_MEMORY_SPACE)(IN EFI_GCD_MEMORY_TYPE GcdMemoryType,
                                                 IN EFI_PHYSICAL_ADDRESS BaseAddress, IN UINT64 Length,
                                                 IN UINT64 Capabilities);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_MEMORY_SPACE)(IN EFI_GCD_ALLOCATE_TYPE GcdAllocateType,
                                                      IN EFI_GCD_MEMORY_TYPE GcdMemoryType, IN UINTN Alignment,
                                                      IN UINT64 Length, IN OUT EFI_PHYSICAL_ADDRESS *BaseAddress,
                                                      IN EFI_HANDLE ImageHandle,
                                                      IN EFI_HANDLE DeviceHandle OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_FREE_MEMORY_SPACE)(IN EFI_PHYSICAL_ADDRESS BaseAddress, IN UINT64 Length);
typedef EFI_STATUS(EFIAPI *EFI_REMOVE_MEMORY_SPACE)(IN EFI_PHYSICAL_ADDRESS BaseAddress, IN UINT64 Length);
typedef EFI_STATUS(EFIAPI *EFI_GET_MEMORY_SPACE_DESCRIPTOR)(IN EFI_PHYSICAL_ADDRESS BaseAddress,
                                                            OUT EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Descriptor);
typedef EFI_STATUS(EFIAPI *EFI_SET_MEMORY_SPACE_ATTRIBUTES)(IN EFI_PHYSICAL_ADDRESS BaseAddress, IN UINT64 Length,
                                                            IN UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_SET_MEMORY_SPACE_CAPABILITIES)(IN EFI_PHYSICAL_ADDRESS BaseAddress,
                                                              IN UINT64 Length, IN UINT64 Capabilities);
typedef EFI_STATUS(EFIAPI *EFI_GET_MEMORY_SPACE_MAP)(OUT UINTN *NumberOfDescriptors,
                                                     OUT EFI_GCD_MEMORY_SPACE_DESCRIPTOR **MemorySpaceMap);

typedef struct {
  EFI_TABLE_HEADER Hdr;
  // Global coherency domain services
  EFI_ADD_MEMORY_SPACE              AddMemorySpace;
  EFI_ALLOCATE_MEMORY_SPACE         AllocateMemorySpace;
  EFI_FREE_MEMORY_SPACE             FreeMemorySpace;
  EFI_REMOVE_MEMORY_SPACE           RemoveMemorySpace;
  EFI_GET_MEMORY_SPACE_DESCRIPTOR   GetMemorySpaceDescriptor;
  EFI_SET_MEMORY_SPACE_ATTRIBUTES   SetMemorySpaceAttributes;
  EFI_GET_MEMORY_SPACE_MAP          GetMemorySpaceMap;
  VOID                             *AddIoSpace;
  VOID                             *AllocateIoSpace;
  VOID                             *FreeIoSpace;
  VOID                             *RemoveIoSpace;
  VOID                             *GetIoSpaceDescriptor;
  VOID                             *GetIoSpaceMap;
  // Dispatcher services
  VOID *Dispatch;
  VOID *Schedule;
  VOID *Trust;
  // Service to process a single firmware volume found in a capsule
  VOID *ProcessFirmwareVolume;
  // Extension to the memory space map
  EFI_SET_MEMORY_SPACE_CAPABILITIES SetMemorySpaceCapabilities;
} EFI_DXE_SERVICES;
static_assert(offsetof(EFI_DXE_SERVICES, AllocateMemorySpace) == 0x20);
static_assert(offsetof(EFI_DXE_SERVICES, SetMemorySpaceAttributes) == 0x40);
static_assert(sizeof(EFI_DXE_SERVICES) == 0xA8);

constexpr UINT64 DXE_SERVICES_SIGNATURE = SIGNATURE_64('D', 'X', 'E', '_', 'S', 'E', 'R', 'V');
