#pragma once
#include <uefi/Base.h>

typedef EFI_GUID EFI_RNG_ALGORITHM;
typedef struct _EFI_RNG_PROTOCOL EFI_RNG_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_RNG_GET_INFO)(IN EFI_RNG_PROTOCOL *This, IN OUT UINTN *RNGAlgorithmListSize,
                                             OUT EFI_RNG_ALGORITHM *RNGAlgorithmList);
typedef EFI_STATUS(EFIAPI *EFI_RNG_GET_RNG)(IN EFI_RNG_PROTOCOL *This, IN EFI_RNG_ALGORITHM *RNGAlgorithm OPTIONAL,
                                            IN UINTN RNGValueLength, OUT UINT8 *RNGValue);

struct _EFI_RNG_PROTOCOL {
  EFI_RNG_GET_INFO GetInfo;
  EFI_RNG_GET_RNG  GetRNG;
};

inline constinit EFI_GUID gEfiRngProtocolGuid = {0x3152BCA5, 0xEADE, 0x433D, {0x86, 0x2E, 0xC0, 0x1C, 0xDC, 0x29, 0x1F, 0x44}};
inline constinit EFI_GUID gEfiRngAlgorithmRaw = {0xE43176D7, 0xB6E8, 0x4827, {0xB7, 0x84, 0x7F, 0xFD, 0xC4, 0xB6, 0x85, 0x61}};
