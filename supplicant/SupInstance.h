// The two records of the supplicant driver: SUP_SERVICE (one per image, the
// service binding) and SUP_INSTANCE (one per child, every piece of state of
// one connection). Both protocol interfaces of a child are embedded in its
// SUP_INSTANCE; members find the record from the interface pointer.
#pragma once
#include <uefi/Uefi.h>
#include <uefi/Protocol/EapConfiguration.h>
#include <uefi/Protocol/Supplicant.h>
#include <Library/DebugLib.h>

constexpr UINT32 SUP_SERVICE_SIGNATURE  = SIGNATURE_32('S', 'U', 'P', 'S');
constexpr UINT32 SUP_INSTANCE_SIGNATURE = SIGNATURE_32('S', 'U', 'P', 'I');
static_assert(SUP_SERVICE_SIGNATURE == 0x53505553 && SUP_INSTANCE_SIGNATURE == 0x49505553);

struct SUP_SERVICE {
  UINT32                       Signature;
  EFI_SERVICE_BINDING_PROTOCOL ServiceBinding;
  UINT16                       ChildrenNumber;
  LIST_ENTRY                   ChildrenList;
  EFI_HANDLE                   ImageHandle;
};

struct SUP_INSTANCE {
  UINT32                         Signature;
  LIST_ENTRY                     Link;
  BOOLEAN                        InDestroy;
  SUP_SERVICE                   *Service;
  EFI_HANDLE                     Handle;
  EFI_SUPPLICANT_PROTOCOL        Supplicant;
  EFI_EAP_CONFIGURATION_PROTOCOL EapConfig;
};

// Record recovery with the signature check; a mismatch is the assertion
// "CR has Bad Signature" naming the calling file.
#define SUP_SERVICE_FROM_THIS(a) CR(a, SUP_SERVICE, ServiceBinding, SUP_SERVICE_SIGNATURE)
#define SUP_INSTANCE_FROM_SUPPLICANT(a) CR(a, SUP_INSTANCE, Supplicant, SUP_INSTANCE_SIGNATURE)
#define SUP_INSTANCE_FROM_EAP_CONFIG(a) CR(a, SUP_INSTANCE, EapConfig, SUP_INSTANCE_SIGNATURE)
#define SUP_INSTANCE_FROM_LINK(a) CR(a, SUP_INSTANCE, Link, SUP_INSTANCE_SIGNATURE)
