#!/usr/bin/env python3
"""The time to derive the SAE password element must not tell which
hunting-and-pecking counter succeeded. Counts the instructions callgrind sees
inside sae_derive_pwe for a password found at counter 1 and one that needs
counter 3 or later, with the same random stream, and requires them to differ
by less than 1 %. Exits 77 (skipped) when valgrind is missing."""
import subprocess
import sys

from callgrind_count import SKIPPED, Counter, have_valgrind, spread

LIMIT = 0.01


def main():
    probe = sys.argv[1]
    if not have_valgrind():
        return SKIPPED
    found = subprocess.run([probe, "find"], check=True, capture_output=True, text=True).stdout.split()
    (early, early_counter), (late, late_counter) = (found[0], found[1]), (found[2], found[3])
    with Counter(["sae_derive_pwe*"], "sae-pwe-callgrind-") as counter:
        early_ir = counter.instructions([probe, "derive", early])
        late_ir = counter.instructions([probe, "derive", late])
    difference = spread([early_ir, late_ir])
    print(f"sae_derive_pwe instructions: '{early}' (counter {early_counter}) {early_ir}, "
          f"'{late}' (counter {late_counter}) {late_ir}, difference {100 * difference:.4f} %")
    return 0 if difference < LIMIT else 1

if __name__ == "__main__":
    sys.exit(main())
