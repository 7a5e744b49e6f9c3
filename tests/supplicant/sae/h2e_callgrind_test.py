#!/usr/bin/env python3
"""Deriving the hash-to-element PT and PWE must cost the same whatever the
password. Chooses passwords whose two field elements take each combination
of the map's branches (x1 or x2 as the abscissa, y negated or not), plus one
of another length, counts the instructions callgrind sees inside
sae_h2e_derive_pt and sae_h2e_derive_pwe for each with the same random
stream, and requires the spread to stay below 1 %. The branches are found
with plain big-number arithmetic here, independent of the code measured.
Exits 77 (skipped) when valgrind is missing."""
import hashlib
import hmac
import sys

from callgrind_count import SKIPPED, Counter, have_valgrind, spread

LIMIT = 0.01
SSID = b"h2e-timing"
P = 2**256 - 2**224 + 2**192 + 2**96 - 1
A = P - 3
B = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B
Z = P - 10


def expand(prk, info, length):
    out, block, counter = b"", b"", 1
    while len(out) < length:
        block = hmac.new(prk, block + info + bytes([counter]), hashlib.sha256).digest()
        out += block
        counter += 1
    return out[:length]


def branches(password):
    """(abscissa x1 taken, y negated) for u1 and for u2."""
    seed = hmac.new(SSID, password, hashlib.sha256).digest()
    result = []
    for label in (b"SAE Hash to Element u1 P1", b"SAE Hash to Element u2 P2"):
        u = int.from_bytes(expand(seed, label, 48), "big") % P
        den = (Z * Z * pow(u, 4, P) + Z * u * u) % P
        x1 = (-B * pow(A, P - 2, P) * (1 + pow(den, P - 2, P))) % P
        gx1 = (x1**3 + A * x1 + B) % P
        square = pow(gx1, (P - 1) // 2, P) in (0, 1)
        x = x1 if square else (Z * u * u * x1) % P
        y = pow((x**3 + A * x + B) % P, (P + 1) // 4, P)
        result.append((square, (y & 1) != (u & 1)))
    return tuple(result)


def choose_passwords():
    wanted = {}
    index = 0
    while len(wanted) < 16 and index < 2000:
        password = f"timing-{index:04d}".encode()
        wanted.setdefault(branches(password), password)
        index += 1
    chosen = list(wanted.values())
    chosen.append(b"a much longer password of another length, 56 characters")
    return chosen


def main():
    probe = sys.argv[1]
    if not have_valgrind():
        return SKIPPED
    passwords = choose_passwords()
    patterns = {branches(p) for p in passwords}
    if len(patterns) < 8:
        print(f"only {len(patterns)} branch combinations found")
        return 1
    with Counter(["sae_h2e_derive_pt*", "sae_h2e_derive_pwe*"], "sae-h2e-callgrind-") as counter:
        counts = {p: counter.instructions([probe, SSID.decode(), p.decode()]) for p in passwords}
    difference = spread(counts.values())
    for password, count in counts.items():
        print(f"{password.decode()!r:60} {branches(password)} {count}")
    print(f"{len(patterns)} branch combinations, PT + PWE instructions "
          f"{min(counts.values())}..{max(counts.values())}, spread {100 * difference:.4f} %")
    return 0 if difference < LIMIT else 1

if __name__ == "__main__":
    sys.exit(main())
