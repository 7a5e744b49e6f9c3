// The station's own RSN element (id 48) or WPA element (id 221), the one
// message 2 of the 4-way handshake carries and the association request must
// carry byte for byte.
#pragma once
#include "SupInstance.h"

constexpr UINT8 SUP_ELEMENT_RSN = 48;
constexpr UINT8 SUP_ELEMENT_VENDOR = 221;
constexpr UINT8 SUP_ELEMENT_RSNX = 244;

constexpr UINT8 SUP_WPA_OUI[3] = {0x00, 0x50, 0xF2};
constexpr UINT8 SUP_RSN_OUI[3] = {0x00, 0x0F, 0xAC};

constexpr UINT16 SUP_OWN_IE_WPA_LEN = 24;
constexpr UINT16 SUP_OWN_IE_RSN_LEN = 20;
constexpr UINT16 SUP_OWN_IE_RSN_SAE_LEN = 26;

// The station's RSN extension element, whole: F4 01 20 (SAE hash-to-element)
// when SaePweMethod says hash-to-element, else nothing. Message 2 carries it
// after the own element; the association request must carry the same bytes.
constexpr UINTN SUP_STATION_RSNXE_LEN = 3;
UINTN SupStationRsnxElement(const SUP_INSTANCE *Instance, UINT8 *Out);

// Rebuilds OwnIeBuf (cleared first), points OwnIe at it and sets OwnIeLen.
VOID SupBuildOwnElement(SUP_INSTANCE *Instance);

// The element id of the own element for the configured protocol.
UINT8 SupOwnElementId(const SUP_INSTANCE *Instance);

// The suite OUI for the configured protocol: WPA's for WPA, RSN's otherwise.
const UINT8 *SupProtocolOui(const SUP_INSTANCE *Instance);

// RSN AKM suite type for an AKM flag: 2 and 32 -> 2, 256 -> 6, 4096 -> 8,
// 16 -> 1, 128 -> 5, else 0.
UINT8 SupAkmSuiteType(UINT32 AkmFlags);
