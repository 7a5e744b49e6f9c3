// The boot-script forwarder: late in boot, single boot-script records are
// handed to an SMM handler through SMM communication instead of the S3 save
// state protocol, once the platform signals (protocol B2E3155F-...) that SMM
// may be used. It also writes the ready-to-boot marker 0xB4 to the platform's
// boot-script port.
#pragma once
#include <uefi/Base.h>
#include <uefi/Protocol/S3SaveState.h>

constexpr UINTN  QUOR_BOOT_SCRIPT_PCD_PORT    = 389;  // 16-bit I/O port
constexpr UINT8  QUOR_BOOT_SCRIPT_PORT_VALUE  = 0xB4;
constexpr UINT16 QUOR_BOOT_SCRIPT_FINAL_OPCODE = 0xAA77;

constexpr UINTN QUOR_FORWARD_COMM_BUFFER_SIZE   = 32;
constexpr UINTN QUOR_FORWARD_RECORD_BUFFER_SIZE = 100;
constexpr UINTN QUOR_FORWARD_DATA_BUFFER_SIZE   = 8;

// Constructor 3: the three runtime buffers.
EFI_STATUS QuorBootScriptForwarderBuffersConstructor();
// Constructor 11: the ready-to-boot port notification (system tables of
// revision 2.0 and later; EFI_UNSUPPORTED before).
EFI_STATUS QuorBootScriptForwarderConstructor();
// Destructor: closes the port notification if it is still pending and
// releases the buffers that exist.
VOID QuorBootScriptForwarderDestructor();

// The forwarder's Write, with the signature of EFI_S3_SAVE_STATE_PROTOCOL.Write:
// (This, OpCode, Width, Address[, Count, Buffer for opcodes 0, 2 and 4]).
EFI_STATUS EFIAPI QuorBootScriptForwarderWrite(const EFI_S3_SAVE_STATE_PROTOCOL *This, UINTN OpCode, ...);

BOOLEAN QuorBootScriptForwarderReady();

VOID QuorBootScriptForwarderResetState();
