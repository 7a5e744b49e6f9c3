// What a child keeps for SAE beyond the exchange itself: the password
// identifier, the anti-clogging token, the rejected groups, the cached PT of
// hash-to-element, and what the current own commit was built with.
#pragma once
#include <uefi/Base.h>

#include "HashToElement.h"

// Values of SaePweMethod (data type 23).
constexpr UINT8 SAE_PWE_HUNTING_AND_PECKING = 0;
constexpr UINT8 SAE_PWE_HASH_TO_ELEMENT = 1;

// Authentication frame status codes of SAE.
constexpr UINT16 SAE_STATUS_ANTI_CLOGGING_TOKEN_REQUIRED = 76;
constexpr UINT16 SAE_STATUS_HASH_TO_ELEMENT = 126;

// Extension elements of the commit (element ID 255, then the extension ID).
constexpr UINT8 SAE_ELEMENT_EXTENSION = 255;
constexpr UINT8 SAE_EXT_PASSWORD_IDENTIFIER = 33;
constexpr UINT8 SAE_EXT_REJECTED_GROUPS = 92;
constexpr UINT8 SAE_EXT_ANTI_CLOGGING_TOKEN = 93;
// ID, length and extension ID before the element's data.
constexpr UINTN SAE_EXT_HEADER_LEN = 3;

// An extension element's data is at most 254 octets (its length octet also
// counts the extension ID). The same bound holds for a hunting-and-pecking
// token, so a token fits whichever method carries it.
constexpr UINTN SAE_MAX_PASSWORD_ID_LEN = 254;
constexpr UINTN SAE_MAX_TOKEN_LEN = 254;
constexpr UINTN SAE_MAX_REJECTED_GROUPS = 32;

constexpr UINTN SAE_SSID_MAX_LEN = 32;
constexpr UINTN SAE_PASSWORD_MAX_LEN = 64;

// PT and the inputs it was derived from; Valid says the two belong
// together. Cleared securely whenever the inputs move away from it.
struct SAE_PT_CACHE {
  BOOLEAN Valid;
  UINT8   Pt[SAE_PT_LEN];
  UINT8   Ssid[SAE_SSID_MAX_LEN];
  UINT8   SsidLen;
  UINT8   Password[SAE_PASSWORD_MAX_LEN];
  UINT8   PasswordLen;
  UINT8   Identifier[SAE_MAX_PASSWORD_ID_LEN];
  UINT8   IdentifierLen;
};

struct SAE_H2E_STATE {
  UINT8  PasswordId[SAE_MAX_PASSWORD_ID_LEN];
  UINT8  PasswordIdLen;
  UINT8  Token[SAE_MAX_TOKEN_LEN];
  UINT8  TokenLen;
  UINT16 RejectedGroups[SAE_MAX_REJECTED_GROUPS];
  UINT8  RejectedGroupCount;
  // The current own commit: its method and, for hash-to-element, the
  // rejected groups it named (the key seed's salt), little-endian.
  BOOLEAN ExchangeH2e;
  UINT8   ExchangeSalt[2 * SAE_MAX_REJECTED_GROUPS];
  UINT8   ExchangeSaltLen;
  SAE_PT_CACHE PtCache;
};
