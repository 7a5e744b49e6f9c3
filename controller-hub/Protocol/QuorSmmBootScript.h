// GUIDs of the SMM side of the S3 save table and the boot-script forwarder.
#pragma once
#include <uefi/Base.h>

// Installed by the platform once SMM communication may carry forwarded
// boot-script records.
inline constinit EFI_GUID gQuorBootScriptSmmReadyProtocolGuid = {0xB2E3155F, 0x9D2C, 0x4C5B, {0xB5, 0x7C, 0x87, 0x7E, 0x4B, 0xFD, 0xC6, 0x83}};
// Header GUID of the close message that hands the S3 save table to SMM.
inline constinit EFI_GUID gQuorS3SaveTableSmmGuid = {0x5C4061F0, 0xD051, 0x4F43, {0xBC, 0x23, 0x5E, 0x5E, 0x89, 0xB3, 0xCE, 0xC0}};
// Header GUID of a forwarded boot-script record.
inline constinit EFI_GUID gQuorBootScriptForwardSmmGuid = {0x28932A0F, 0x3784, 0x4791, {0xB3, 0x35, 0x33, 0x43, 0x49, 0xAF, 0xCA, 0x1C}};
// Token space of the PCD that holds the close-message buffer address.
inline constinit EFI_GUID gQuorSmmCommBufferTokenSpaceGuid = {0x7788ADF0, 0x9788, 0x4A3F, {0x83, 0xFA, 0xCB, 0x51, 0x2E, 0x7C, 0xF8, 0xDD}};
