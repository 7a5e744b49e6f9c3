#!/usr/bin/env python3
"""The time of a group-19 scalar multiplication must not depend on the
scalar. Counts the instructions callgrind sees inside ecc_point_mul for the
scalars 1, n - 1 and a random one, with the same random stream, and requires
the largest and smallest count to differ by less than 0.1 %. Exits 77
(skipped) when valgrind is missing."""
import secrets
import sys

from callgrind_count import SKIPPED, Counter, have_valgrind, spread

LIMIT = 0.001
ORDER = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551


def main():
    probe = sys.argv[1]
    if not have_valgrind():
        return SKIPPED
    scalars = {"1": 1, "n - 1": ORDER - 1, "random": 2 + secrets.randbelow(ORDER - 3)}
    with Counter(["ecc_point_mul*"], "sae-point-mul-callgrind-") as counter:
        counts = {name: counter.instructions([probe, f"{value:064X}"]) for name, value in scalars.items()}
    difference = spread(counts.values())
    print("ecc_point_mul instructions: " + ", ".join(f"{name} {count}" for name, count in counts.items()) +
          f"; spread {100 * difference:.4f} % (random scalar {scalars['random']:064X})")
    return 0 if difference < LIMIT and min(counts.values()) > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
