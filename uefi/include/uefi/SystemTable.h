// The EFI system table with the boot and runtime services tables, in the
// member order of the UEFI 2.10 specification.
#pragma once

#include <uefi/Base.h>
#include <uefi/Protocol/DevicePath.h>
#include <uefi/Protocol/SimpleTextOut.h>

typedef struct {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
} EFI_TABLE_HEADER;
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

constexpr UINT32 EFI_2_10_SYSTEM_TABLE_REVISION = (2 << 16) | 100;
constexpr UINT32 EFI_2_00_SYSTEM_TABLE_REVISION = (2 << 16);
constexpr UINT32 EFI_1_10_SYSTEM_TABLE_REVISION = (1 << 16) | 10;
constexpr UINT64 EFI_SYSTEM_TABLE_SIGNATURE      = SIGNATURE_64('I', 'B', 'I', ' ', 'S', 'Y', 'S', 'T');
constexpr UINT64 EFI_BOOT_SERVICES_SIGNATURE     = SIGNATURE_64('B', 'O', 'O', 'T', 'S', 'E', 'R', 'V');
constexpr UINT64 EFI_RUNTIME_SERVICES_SIGNATURE  = SIGNATURE_64('R', 'U', 'N', 'T', 'S', 'E', 'R', 'V');

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------
typedef struct {
  UINT16 Year;
  UINT8  Month;
  UINT8  Day;
  UINT8  Hour;
  UINT8  Minute;
  UINT8  Second;
  UINT8  Pad1;
  UINT32 Nanosecond;
  INT16  TimeZone;
  UINT8  Daylight;
  UINT8  Pad2;
} EFI_TIME;
static_assert(sizeof(EFI_TIME) == 16);

typedef struct {
  UINT32  Resolution;
  UINT32  Accuracy;
  BOOLEAN SetsToZero;
} EFI_TIME_CAPABILITIES;

// ---------------------------------------------------------------------------
// Task priority levels and events
// ---------------------------------------------------------------------------
constexpr EFI_TPL TPL_APPLICATION = 4;
constexpr EFI_TPL TPL_CALLBACK    = 8;
constexpr EFI_TPL TPL_NOTIFY      = 16;
constexpr EFI_TPL TPL_HIGH_LEVEL  = 31;

constexpr UINT32 EVT_TIMER                         = 0x80000000;
constexpr UINT32 EVT_RUNTIME                       = 0x40000000;
constexpr UINT32 EVT_NOTIFY_WAIT                   = 0x00000100;
constexpr UINT32 EVT_NOTIFY_SIGNAL                 = 0x00000200;
constexpr UINT32 EVT_SIGNAL_EXIT_BOOT_SERVICES     = 0x00000201;
constexpr UINT32 EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE = 0x60000202;

typedef VOID(EFIAPI *EFI_EVENT_NOTIFY)(IN EFI_EVENT Event, IN VOID *Context);

typedef enum { TimerCancel, TimerPeriodic, TimerRelative } EFI_TIMER_DELAY;

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------
typedef enum {
  AllocateAnyPages,
  AllocateMaxAddress,
  AllocateAddress,
  MaxAllocateType
} EFI_ALLOCATE_TYPE;

typedef enum {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiConventionalMemory,
  EfiUnusableMemory,
  EfiACPIReclaimMemory,
  EfiACPIMemoryNVS,
  EfiMemoryMappedIO,
  EfiMemoryMappedIOPortSpace,
  EfiPalCode,
  EfiPersistentMemory,
  EfiUnacceptedMemoryType,
  EfiMaxMemoryType
} EFI_MEMORY_TYPE;

typedef struct {
  UINT32               Type;
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_VIRTUAL_ADDRESS  VirtualStart;
  UINT64               NumberOfPages;
  UINT64               Attribute;
} EFI_MEMORY_DESCRIPTOR;

constexpr UINT64 EFI_MEMORY_UC      = 0x0000000000000001ULL;
constexpr UINT64 EFI_MEMORY_WC      = 0x0000000000000002ULL;
constexpr UINT64 EFI_MEMORY_WT      = 0x0000000000000004ULL;
constexpr UINT64 EFI_MEMORY_WB      = 0x0000000000000008ULL;
constexpr UINT64 EFI_MEMORY_RUNTIME = 0x8000000000000000ULL;

// ---------------------------------------------------------------------------
// Protocol handler services
// ---------------------------------------------------------------------------
typedef enum { EFI_NATIVE_INTERFACE } EFI_INTERFACE_TYPE;

typedef enum { AllHandles, ByRegisterNotify, ByProtocol } EFI_LOCATE_SEARCH_TYPE;

constexpr UINT32 EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL  = 0x00000001;
constexpr UINT32 EFI_OPEN_PROTOCOL_GET_PROTOCOL        = 0x00000002;
constexpr UINT32 EFI_OPEN_PROTOCOL_TEST_PROTOCOL       = 0x00000004;
constexpr UINT32 EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER = 0x00000008;
constexpr UINT32 EFI_OPEN_PROTOCOL_BY_DRIVER           = 0x00000010;
constexpr UINT32 EFI_OPEN_PROTOCOL_EXCLUSIVE           = 0x00000020;

typedef struct {
  EFI_HANDLE AgentHandle;
  EFI_HANDLE ControllerHandle;
  UINT32     Attributes;
  UINT32     OpenCount;
} EFI_OPEN_PROTOCOL_INFORMATION_ENTRY;

// ---------------------------------------------------------------------------
// Reset
// ---------------------------------------------------------------------------
typedef enum { EfiResetCold, EfiResetWarm, EfiResetShutdown, EfiResetPlatformSpecific } EFI_RESET_TYPE;

typedef struct {
  UINT64 Length;
  union {
    EFI_PHYSICAL_ADDRESS DataBlock;
    EFI_PHYSICAL_ADDRESS ContinuationPointer;
  } Union;
} EFI_CAPSULE_BLOCK_DESCRIPTOR;

typedef struct {
  EFI_GUID CapsuleGuid;
  UINT32   HeaderSize;
  UINT32   Flags;
  UINT32   CapsuleImageSize;
} EFI_CAPSULE_HEADER;

// ---------------------------------------------------------------------------
// Runtime services
// ---------------------------------------------------------------------------
typedef EFI_STATUS(EFIAPI *EFI_GET_TIME)(OUT EFI_TIME *Time, OUT EFI_TIME_CAPABILITIES *Capabilities OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_SET_TIME)(IN EFI_TIME *Time);
typedef EFI_STATUS(EFIAPI *EFI_GET_WAKEUP_TIME)(OUT BOOLEAN *Enabled, OUT BOOLEAN *Pending, OUT EFI_TIME *Time);
typedef EFI_STATUS(EFIAPI *EFI_SET_WAKEUP_TIME)(IN BOOLEAN Enable, IN EFI_TIME *Time OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_SET_VIRTUAL_ADDRESS_MAP)(IN UINTN MemoryMapSize, IN UINTN DescriptorSize,
                                                        IN UINT32 DescriptorVersion,
                                                        IN EFI_MEMORY_DESCRIPTOR *VirtualMap);
typedef EFI_STATUS(EFIAPI *EFI_CONVERT_POINTER)(IN UINTN DebugDisposition, IN OUT VOID **Address);
typedef EFI_STATUS(EFIAPI *EFI_GET_VARIABLE)(IN CHAR16 *VariableName, IN EFI_GUID *VendorGuid,
                                             OUT UINT32 *Attributes OPTIONAL, IN OUT UINTN *DataSize,
                                             OUT VOID *Data OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_GET_NEXT_VARIABLE_NAME)(IN OUT UINTN *VariableNameSize,
                                                       IN OUT CHAR16 *VariableName,
                                                       IN OUT EFI_GUID *VendorGuid);
typedef EFI_STATUS(EFIAPI *EFI_SET_VARIABLE)(IN CHAR16 *VariableName, IN EFI_GUID *VendorGuid,
                                             IN UINT32 Attributes, IN UINTN DataSize, IN VOID *Data);
typedef EFI_STATUS(EFIAPI *EFI_GET_NEXT_HIGH_MONO_COUNT)(OUT UINT32 *HighCount);
typedef VOID(EFIAPI *EFI_RESET_SYSTEM)(IN EFI_RESET_TYPE ResetType, IN EFI_STATUS ResetStatus,
                                       IN UINTN DataSize, IN VOID *ResetData OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_UPDATE_CAPSULE)(IN EFI_CAPSULE_HEADER **CapsuleHeaderArray,
                                               IN UINTN CapsuleCount,
                                               IN EFI_PHYSICAL_ADDRESS ScatterGatherList OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_QUERY_CAPSULE_CAPABILITIES)(IN EFI_CAPSULE_HEADER **CapsuleHeaderArray,
                                                           IN UINTN CapsuleCount,
                                                           OUT UINT64 *MaximumCapsuleSize,
                                                           OUT EFI_RESET_TYPE *ResetType);
typedef EFI_STATUS(EFIAPI *EFI_QUERY_VARIABLE_INFO)(IN UINT32 Attributes, OUT UINT64 *MaximumVariableStorageSize,
                                                    OUT UINT64 *RemainingVariableStorageSize,
                                                    OUT UINT64 *MaximumVariableSize);

typedef struct {
  EFI_TABLE_HEADER               Hdr;
  EFI_GET_TIME                   GetTime;
  EFI_SET_TIME                   SetTime;
  EFI_GET_WAKEUP_TIME            GetWakeupTime;
  EFI_SET_WAKEUP_TIME            SetWakeupTime;
  EFI_SET_VIRTUAL_ADDRESS_MAP    SetVirtualAddressMap;
  EFI_CONVERT_POINTER            ConvertPointer;
  EFI_GET_VARIABLE               GetVariable;
  EFI_GET_NEXT_VARIABLE_NAME     GetNextVariableName;
  EFI_SET_VARIABLE               SetVariable;
  EFI_GET_NEXT_HIGH_MONO_COUNT   GetNextHighMonotonicCount;
  EFI_RESET_SYSTEM               ResetSystem;
  EFI_UPDATE_CAPSULE             UpdateCapsule;
  EFI_QUERY_CAPSULE_CAPABILITIES QueryCapsuleCapabilities;
  EFI_QUERY_VARIABLE_INFO        QueryVariableInfo;
} EFI_RUNTIME_SERVICES;
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetTime) == 0x18);
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 0x68);
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 0x88);

// ---------------------------------------------------------------------------
// Boot services
// ---------------------------------------------------------------------------
typedef EFI_TPL(EFIAPI *EFI_RAISE_TPL)(IN EFI_TPL NewTpl);
typedef VOID(EFIAPI *EFI_RESTORE_TPL)(IN EFI_TPL OldTpl);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_PAGES)(IN EFI_ALLOCATE_TYPE Type, IN EFI_MEMORY_TYPE MemoryType,
                                               IN UINTN Pages, IN OUT EFI_PHYSICAL_ADDRESS *Memory);
typedef EFI_STATUS(EFIAPI *EFI_FREE_PAGES)(IN EFI_PHYSICAL_ADDRESS Memory, IN UINTN Pages);
typedef EFI_STATUS(EFIAPI *EFI_GET_MEMORY_MAP)(IN OUT UINTN *MemoryMapSize, OUT EFI_MEMORY_DESCRIPTOR *MemoryMap,
                                               OUT UINTN *MapKey, OUT UINTN *DescriptorSize,
                                               OUT UINT32 *DescriptorVersion);
typedef EFI_STATUS(EFIAPI *EFI_ALLOCATE_POOL)(IN EFI_MEMORY_TYPE PoolType, IN UINTN Size, OUT VOID **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FREE_POOL)(IN VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_CREATE_EVENT)(IN UINT32 Type, IN EFI_TPL NotifyTpl,
                                             IN EFI_EVENT_NOTIFY NotifyFunction OPTIONAL,
                                             IN VOID *NotifyContext OPTIONAL, OUT EFI_EVENT *Event);
typedef EFI_STATUS(EFIAPI *EFI_SET_TIMER)(IN EFI_EVENT Event, IN EFI_TIMER_DELAY Type, IN UINT64 TriggerTime);
typedef EFI_STATUS(EFIAPI *EFI_WAIT_FOR_EVENT)(IN UINTN NumberOfEvents, IN EFI_EVENT *Event, OUT UINTN *Index);
typedef EFI_STATUS(EFIAPI *EFI_SIGNAL_EVENT)(IN EFI_EVENT Event);
typedef EFI_STATUS(EFIAPI *EFI_CLOSE_EVENT)(IN EFI_EVENT Event);
typedef EFI_STATUS(EFIAPI *EFI_CHECK_EVENT)(IN EFI_EVENT Event);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_PROTOCOL_INTERFACE)(IN OUT EFI_HANDLE *Handle, IN EFI_GUID *Protocol,
                                                           IN EFI_INTERFACE_TYPE InterfaceType,
                                                           IN VOID *Interface);
typedef EFI_STATUS(EFIAPI *EFI_REINSTALL_PROTOCOL_INTERFACE)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol,
                                                             IN VOID *OldInterface, IN VOID *NewInterface);
typedef EFI_STATUS(EFIAPI *EFI_UNINSTALL_PROTOCOL_INTERFACE)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol,
                                                             IN VOID *Interface);
typedef EFI_STATUS(EFIAPI *EFI_HANDLE_PROTOCOL)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol, OUT VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_REGISTER_PROTOCOL_NOTIFY)(IN EFI_GUID *Protocol, IN EFI_EVENT Event,
                                                         OUT VOID **Registration);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_HANDLE)(IN EFI_LOCATE_SEARCH_TYPE SearchType, IN EFI_GUID *Protocol OPTIONAL,
                                              IN VOID *SearchKey OPTIONAL, IN OUT UINTN *BufferSize,
                                              OUT EFI_HANDLE *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_DEVICE_PATH)(IN EFI_GUID *Protocol,
                                                   IN OUT EFI_DEVICE_PATH_PROTOCOL **DevicePath,
                                                   OUT EFI_HANDLE *Device);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_CONFIGURATION_TABLE)(IN EFI_GUID *Guid, IN VOID *Table);
typedef EFI_STATUS(EFIAPI *EFI_IMAGE_LOAD)(IN BOOLEAN BootPolicy, IN EFI_HANDLE ParentImageHandle,
                                           IN EFI_DEVICE_PATH_PROTOCOL *DevicePath OPTIONAL,
                                           IN VOID *SourceBuffer OPTIONAL, IN UINTN SourceSize,
                                           OUT EFI_HANDLE *ImageHandle);
typedef EFI_STATUS(EFIAPI *EFI_IMAGE_START)(IN EFI_HANDLE ImageHandle, OUT UINTN *ExitDataSize,
                                            OUT CHAR16 **ExitData OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_EXIT)(IN EFI_HANDLE ImageHandle, IN EFI_STATUS ExitStatus, IN UINTN ExitDataSize,
                                     IN CHAR16 *ExitData OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_IMAGE_UNLOAD)(IN EFI_HANDLE ImageHandle);
typedef EFI_STATUS(EFIAPI *EFI_EXIT_BOOT_SERVICES)(IN EFI_HANDLE ImageHandle, IN UINTN MapKey);
typedef EFI_STATUS(EFIAPI *EFI_GET_NEXT_MONOTONIC_COUNT)(OUT UINT64 *Count);
typedef EFI_STATUS(EFIAPI *EFI_STALL)(IN UINTN Microseconds);
typedef EFI_STATUS(EFIAPI *EFI_SET_WATCHDOG_TIMER)(IN UINTN Timeout, IN UINT64 WatchdogCode, IN UINTN DataSize,
                                                   IN CHAR16 *WatchdogData OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_CONNECT_CONTROLLER)(IN EFI_HANDLE ControllerHandle,
                                                   IN EFI_HANDLE *DriverImageHandle OPTIONAL,
                                                   IN EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath OPTIONAL,
                                                   IN BOOLEAN Recursive);
typedef EFI_STATUS(EFIAPI *EFI_DISCONNECT_CONTROLLER)(IN EFI_HANDLE ControllerHandle,
                                                      IN EFI_HANDLE DriverImageHandle OPTIONAL,
                                                      IN EFI_HANDLE ChildHandle OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_OPEN_PROTOCOL)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol,
                                              OUT VOID **Interface OPTIONAL, IN EFI_HANDLE AgentHandle,
                                              IN EFI_HANDLE ControllerHandle, IN UINT32 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_CLOSE_PROTOCOL)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol, IN EFI_HANDLE AgentHandle,
                                               IN EFI_HANDLE ControllerHandle);
typedef EFI_STATUS(EFIAPI *EFI_OPEN_PROTOCOL_INFORMATION)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol,
                                                          OUT EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **EntryBuffer,
                                                          OUT UINTN *EntryCount);
typedef EFI_STATUS(EFIAPI *EFI_PROTOCOLS_PER_HANDLE)(IN EFI_HANDLE Handle, OUT EFI_GUID ***ProtocolBuffer,
                                                     OUT UINTN *ProtocolBufferCount);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_HANDLE_BUFFER)(IN EFI_LOCATE_SEARCH_TYPE SearchType,
                                                     IN EFI_GUID *Protocol OPTIONAL, IN VOID *SearchKey OPTIONAL,
                                                     OUT UINTN *NoHandles, OUT EFI_HANDLE **Buffer);
typedef EFI_STATUS(EFIAPI *EFI_LOCATE_PROTOCOL)(IN EFI_GUID *Protocol, IN VOID *Registration OPTIONAL,
                                                OUT VOID **Interface);
typedef EFI_STATUS(EFIAPI *EFI_INSTALL_MULTIPLE_PROTOCOL_INTERFACES)(IN OUT EFI_HANDLE *Handle, ...);
typedef EFI_STATUS(EFIAPI *EFI_UNINSTALL_MULTIPLE_PROTOCOL_INTERFACES)(IN EFI_HANDLE Handle, ...);
typedef EFI_STATUS(EFIAPI *EFI_CALCULATE_CRC32)(IN VOID *Data, IN UINTN DataSize, OUT UINT32 *Crc32);
typedef VOID(EFIAPI *EFI_COPY_MEM)(IN VOID *Destination, IN VOID *Source, IN UINTN Length);
typedef VOID(EFIAPI *EFI_SET_MEM)(IN VOID *Buffer, IN UINTN Size, IN UINT8 Value);
typedef EFI_STATUS(EFIAPI *EFI_CREATE_EVENT_EX)(IN UINT32 Type, IN EFI_TPL NotifyTpl,
                                                IN EFI_EVENT_NOTIFY NotifyFunction OPTIONAL,
                                                IN CONST VOID *NotifyContext OPTIONAL,
                                                IN CONST EFI_GUID *EventGroup OPTIONAL, OUT EFI_EVENT *Event);

typedef struct {
  EFI_TABLE_HEADER Hdr;
  // Task priority services
  EFI_RAISE_TPL   RaiseTPL;
  EFI_RESTORE_TPL RestoreTPL;
  // Memory services
  EFI_ALLOCATE_PAGES AllocatePages;
  EFI_FREE_PAGES     FreePages;
  EFI_GET_MEMORY_MAP GetMemoryMap;
  EFI_ALLOCATE_POOL  AllocatePool;
  EFI_FREE_POOL      FreePool;
  // Event and timer services
  EFI_CREATE_EVENT   CreateEvent;
  EFI_SET_TIMER      SetTimer;
  EFI_WAIT_FOR_EVENT WaitForEvent;
  EFI_SIGNAL_EVENT   SignalEvent;
  EFI_CLOSE_EVENT    CloseEvent;
  EFI_CHECK_EVENT    CheckEvent;
  // Protocol handler services
  EFI_INSTALL_PROTOCOL_INTERFACE   InstallProtocolInterface;
  EFI_REINSTALL_PROTOCOL_INTERFACE ReinstallProtocolInterface;
  EFI_UNINSTALL_PROTOCOL_INTERFACE UninstallProtocolInterface;
  EFI_HANDLE_PROTOCOL              HandleProtocol;
  VOID                            *Reserved;
  EFI_REGISTER_PROTOCOL_NOTIFY     RegisterProtocolNotify;
  EFI_LOCATE_HANDLE                LocateHandle;
  EFI_LOCATE_DEVICE_PATH           LocateDevicePath;
  EFI_INSTALL_CONFIGURATION_TABLE  InstallConfigurationTable;
  // Image services
  EFI_IMAGE_LOAD         LoadImage;
  EFI_IMAGE_START        StartImage;
  EFI_EXIT               Exit;
  EFI_IMAGE_UNLOAD       UnloadImage;
  EFI_EXIT_BOOT_SERVICES ExitBootServices;
  // Miscellaneous services
  EFI_GET_NEXT_MONOTONIC_COUNT GetNextMonotonicCount;
  EFI_STALL                    Stall;
  EFI_SET_WATCHDOG_TIMER       SetWatchdogTimer;
  // Driver support services
  EFI_CONNECT_CONTROLLER    ConnectController;
  EFI_DISCONNECT_CONTROLLER DisconnectController;
  // Open and close protocol services
  EFI_OPEN_PROTOCOL             OpenProtocol;
  EFI_CLOSE_PROTOCOL            CloseProtocol;
  EFI_OPEN_PROTOCOL_INFORMATION OpenProtocolInformation;
  // Library services
  EFI_PROTOCOLS_PER_HANDLE                   ProtocolsPerHandle;
  EFI_LOCATE_HANDLE_BUFFER                   LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL                        LocateProtocol;
  EFI_INSTALL_MULTIPLE_PROTOCOL_INTERFACES   InstallMultipleProtocolInterfaces;
  EFI_UNINSTALL_MULTIPLE_PROTOCOL_INTERFACES UninstallMultipleProtocolInterfaces;
  // 32-bit CRC services
  EFI_CALCULATE_CRC32 CalculateCrc32;
  // Miscellaneous services
  EFI_COPY_MEM        CopyMem;
  EFI_SET_MEM         SetMem;
  EFI_CREATE_EVENT_EX CreateEventEx;
} EFI_BOOT_SERVICES;

// The members the drivers call: an ABI slip here breaks every call silently.
static_assert(offsetof(EFI_BOOT_SERVICES, RaiseTPL) == 0x18);
static_assert(offsetof(EFI_BOOT_SERVICES, RestoreTPL) == 0x20);
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 0x40);
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 0x48);
static_assert(offsetof(EFI_BOOT_SERVICES, CreateEvent) == 0x50);
static_assert(offsetof(EFI_BOOT_SERVICES, SignalEvent) == 0x68);
static_assert(offsetof(EFI_BOOT_SERVICES, CloseEvent) == 0x70);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 0x80);
static_assert(offsetof(EFI_BOOT_SERVICES, UninstallProtocolInterface) == 0x90);
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 0x98);
static_assert(offsetof(EFI_BOOT_SERVICES, RegisterProtocolNotify) == 0xA8);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandle) == 0xB0);
static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 0xC8);
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 0xD0);
static_assert(offsetof(EFI_BOOT_SERVICES, UnloadImage) == 0xE0);
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 0xF8);
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == 0x118);
static_assert(offsetof(EFI_BOOT_SERVICES, CloseProtocol) == 0x120);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer) == 0x138);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 0x140);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallMultipleProtocolInterfaces) == 0x148);
static_assert(offsetof(EFI_BOOT_SERVICES, UninstallMultipleProtocolInterfaces) == 0x150);
static_assert(offsetof(EFI_BOOT_SERVICES, CopyMem) == 0x160);
static_assert(offsetof(EFI_BOOT_SERVICES, CreateEventEx) == 0x170);
static_assert(sizeof(EFI_BOOT_SERVICES) == 0x178);

// ---------------------------------------------------------------------------
// System table
// ---------------------------------------------------------------------------
typedef struct {
  EFI_GUID VendorGuid;
  VOID    *VendorTable;
} EFI_CONFIGURATION_TABLE;

typedef struct _EFI_SIMPLE_TEXT_INPUT_PROTOCOL EFI_SIMPLE_TEXT_INPUT_PROTOCOL;

typedef struct {
  EFI_TABLE_HEADER                 Hdr;
  CHAR16                          *FirmwareVendor;
  UINT32                           FirmwareRevision;
  EFI_HANDLE                       ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL  *ConIn;
  EFI_HANDLE                       ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE                       StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES            *RuntimeServices;
  EFI_BOOT_SERVICES               *BootServices;
  UINTN                            NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE         *ConfigurationTable;
} EFI_SYSTEM_TABLE;
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(offsetof(EFI_SYSTEM_TABLE, StdErr) == 80);
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88);
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112);
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120);

typedef EFI_STATUS(EFIAPI *EFI_IMAGE_ENTRY_POINT)(IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);

// Event groups
inline constinit EFI_GUID gEfiEventReadyToBootGuid = {0x7CE88FB3, 0x4BD7, 0x4679, {0x87, 0xA8, 0xA8, 0xD8, 0xDE, 0xE5, 0x0D, 0x2B}};
inline constinit EFI_GUID gEfiEventExitBootServicesGuid = {0x27ABF055, 0xB1B8, 0x4C26, {0x80, 0x48, 0x74, 0x8F, 0x37, 0xBA, 0xA2, 0xDF}};
// Configuration tables
inline constinit EFI_GUID gEfiHobListGuid = {0x7739F24C, 0x93D7, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
inline constinit EFI_GUID gEfiDxeServicesTableGuid = {0x05AD34BA, 0x6F02, 0x4214, {0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9}};
