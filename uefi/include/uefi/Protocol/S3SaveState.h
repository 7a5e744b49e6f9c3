// EFI_S3_SAVE_STATE_PROTOCOL of the Platform Initialization specification:
// records boot-script operations that the S3 resume path replays.
#pragma once
#include <uefi/Base.h>

// Boot-script opcodes.
constexpr UINTN EFI_BOOT_SCRIPT_IO_WRITE_OPCODE               = 0x00;
constexpr UINTN EFI_BOOT_SCRIPT_IO_READ_WRITE_OPCODE          = 0x01;
constexpr UINTN EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE              = 0x02;
constexpr UINTN EFI_BOOT_SCRIPT_MEM_READ_WRITE_OPCODE         = 0x03;
constexpr UINTN EFI_BOOT_SCRIPT_PCI_CONFIG_WRITE_OPCODE       = 0x04;
constexpr UINTN EFI_BOOT_SCRIPT_PCI_CONFIG_READ_WRITE_OPCODE  = 0x05;
constexpr UINTN EFI_BOOT_SCRIPT_SMBUS_EXECUTE_OPCODE          = 0x06;
constexpr UINTN EFI_BOOT_SCRIPT_STALL_OPCODE                  = 0x07;
constexpr UINTN EFI_BOOT_SCRIPT_DISPATCH_OPCODE               = 0x08;
constexpr UINTN EFI_BOOT_SCRIPT_DISPATCH_2_OPCODE             = 0x09;
constexpr UINTN EFI_BOOT_SCRIPT_INFORMATION_OPCODE            = 0x0A;
constexpr UINTN EFI_BOOT_SCRIPT_PCI_CONFIG2_WRITE_OPCODE      = 0x0B;
constexpr UINTN EFI_BOOT_SCRIPT_PCI_CONFIG2_READ_WRITE_OPCODE = 0x0C;
constexpr UINTN EFI_BOOT_SCRIPT_IO_POLL_OPCODE                = 0x0D;
constexpr UINTN EFI_BOOT_SCRIPT_MEM_POLL_OPCODE               = 0x0E;
constexpr UINTN EFI_BOOT_SCRIPT_PCI_CONFIG_POLL_OPCODE        = 0x0F;
constexpr UINTN EFI_BOOT_SCRIPT_PCI_CONFIG2_POLL_OPCODE       = 0x10;

typedef enum {
  EfiBootScriptWidthUint8,
  EfiBootScriptWidthUint16,
  EfiBootScriptWidthUint32,
  EfiBootScriptWidthUint64,
  EfiBootScriptWidthFifoUint8,
  EfiBootScriptWidthFifoUint16,
  EfiBootScriptWidthFifoUint32,
  EfiBootScriptWidthFifoUint64,
  EfiBootScriptWidthFillUint8,
  EfiBootScriptWidthFillUint16,
  EfiBootScriptWidthFillUint32,
  EfiBootScriptWidthFillUint64,
  EfiBootScriptWidthMaximum
} EFI_BOOT_SCRIPT_WIDTH;

// PCI configuration address of the boot script: register in bits 0-7,
// function 8-15, device 16-23, bus 24-31, extended register 32-63.
constexpr UINT64 EfiBootScriptPciAddress(UINT64 Bus, UINT64 Device, UINT64 Function, UINT64 Register) {
  return Register | (Function << 8) | (Device << 16) | (Bus << 24);
}

typedef VOID *EFI_S3_BOOT_SCRIPT_POSITION;
typedef struct _EFI_S3_SAVE_STATE_PROTOCOL EFI_S3_SAVE_STATE_PROTOCOL;

// Write (This, OpCode, ...): the variable arguments follow the opcode, e.g.
//   IO/MEM/PCI_CONFIG_WRITE:      Width, UINT64 Address, UINTN Count, VOID *Buffer
//   IO/MEM/PCI_CONFIG_READ_WRITE: Width, UINT64 Address, VOID *Data, VOID *DataMask
//   PCI_CONFIG2_WRITE:            Width, UINT16 Segment, UINT64 Address, UINTN Count, VOID *Buffer
//   IO_POLL, PCI_CONFIG_POLL:     Width, UINT64 Address, VOID *Data, VOID *DataMask, UINT64 Delay
//   MEM_POLL:                     Width, UINT64 Address, VOID *Data, VOID *DataMask, UINT64 Delay,
//                                 UINT64 LoopTimes
//   STALL: UINTN Duration; DISPATCH: VOID *EntryPoint; DISPATCH_2: VOID *EntryPoint, VOID *Context;
//   INFORMATION: UINT32 InformationLength, VOID *Information
// Every variable argument occupies one 64-bit slot in the EFIAPI convention.
typedef EFI_STATUS(EFIAPI *EFI_S3_SAVE_STATE_WRITE)(IN const EFI_S3_SAVE_STATE_PROTOCOL *This, IN UINTN OpCode, ...);
typedef EFI_STATUS(EFIAPI *EFI_S3_SAVE_STATE_INSERT)(IN const EFI_S3_SAVE_STATE_PROTOCOL *This,
                                                     IN BOOLEAN BeforeOrAfter,
                                                     IN OUT EFI_S3_BOOT_SCRIPT_POSITION *Position OPTIONAL,
                                                     IN UINTN OpCode, ...);
typedef EFI_STATUS(EFIAPI *EFI_S3_SAVE_STATE_LABEL)(IN const EFI_S3_SAVE_STATE_PROTOCOL *This,
                                                    IN BOOLEAN BeforeOrAfter, IN BOOLEAN CreateIfNotFound,
                                                    IN OUT EFI_S3_BOOT_SCRIPT_POSITION *Position OPTIONAL,
                                                    IN const CHAR8 *Label);
typedef EFI_STATUS(EFIAPI *EFI_S3_SAVE_STATE_COMPARE)(IN const EFI_S3_SAVE_STATE_PROTOCOL *This,
                                                      IN EFI_S3_BOOT_SCRIPT_POSITION Position1,
                                                      IN EFI_S3_BOOT_SCRIPT_POSITION Position2,
                                                      OUT UINTN *RelativePosition);

struct _EFI_S3_SAVE_STATE_PROTOCOL {
  EFI_S3_SAVE_STATE_WRITE   Write;
  EFI_S3_SAVE_STATE_INSERT  Insert;
  EFI_S3_SAVE_STATE_LABEL   Label;
  EFI_S3_SAVE_STATE_COMPARE Compare;
};

inline constinit EFI_GUID gEfiS3SaveStateProtocolGuid = {0xE857CAF6, 0xC046, 0x45DC, {0xBE, 0x3F, 0xEE, 0x07, 0x65, 0xFB, 0xA8, 0x87}};
