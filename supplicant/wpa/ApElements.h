// The access point's security elements as its beacon showed them (handed in
// by the connection manager) against the ones message 3 repeats: a
// difference means someone between the two rewrote the beacon to talk the
// station into weaker security.
#pragma once
#include "SupInstance.h"

// An RSN element (id 48) or WPA element (id 221, 00-50-F2 type 1), whole,
// filling exactly Size bytes, version 1, with every field it has complete
// and nothing after the last field it may have.
BOOLEAN SupApSecurityElementWellFormed(const UINT8 *Element, UINTN Size);

// An RSN extension element (id 244), whole, filling exactly Size bytes,
// with at least its first capability octet.
BOOLEAN SupRsnxElementWellFormed(const UINT8 *Element, UINTN Size);

// TRUE when message 3's key data (decrypted, or as sent when not encrypted)
// repeats the beacon elements handed in: the RSN or WPA element byte for
// byte, and the RSNXE exactly when the beacon had one. Nothing is compared
// when neither element was handed in.
BOOLEAN SupMessage3MatchesBeacon(const SUP_INSTANCE *Instance, const UINT8 *KeyData, UINTN KeyDataLength);
