#!/usr/bin/env python3
"""The two supplicant images an enterprise build makes: both PE32+ boot-service
drivers (subsystem 11) for x86-64; the enterprise image carries the EAP-TLS
client (its key-material label and the PEM markers it looks for), the
personal image carries none of it."""
import os
import struct
import sys

TLS_MARKERS = [b"client EAP encryption", b"-----BEGIN CERTIFICATE-----"]


def pe_header(data):
    if data[:2] != b"MZ":
        return None
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[offset:offset + 4] != b"PE\0\0":
        return None
    machine = struct.unpack_from("<H", data, offset + 4)[0]
    optional = offset + 24
    magic, = struct.unpack_from("<H", data, optional)
    subsystem, = struct.unpack_from("<H", data, optional + 68)
    return machine, magic, subsystem


def main():
    efi_dir = sys.argv[1]
    ok = True
    for name, with_tls in [("NorvSupDxe.efi", True), ("NorvSupDxePersonal.efi", False)]:
        path = os.path.join(efi_dir, name)
        if not os.path.exists(path):
            print(f"missing {path}: build the efi preset first")
            return 1
        data = open(path, "rb").read()
        header = pe_header(data)
        if header != (0x8664, 0x20B, 11):
            print(f"{name}: not a PE32+ x86-64 boot-service driver: {header}")
            ok = False
        found = [m.decode() for m in TLS_MARKERS if m in data]
        if with_tls and len(found) != len(TLS_MARKERS):
            print(f"{name}: the EAP-TLS client is missing (found {found})")
            ok = False
        if not with_tls and found:
            print(f"{name}: TLS code linked into the personal image (found {found})")
            ok = False
        print(f"{name}: {len(data)} bytes, TLS markers {found}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
