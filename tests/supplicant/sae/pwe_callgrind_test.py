#!/usr/bin/env python3
"""The time to derive the SAE password element must not tell which
hunting-and-pecking counter succeeded. Counts the instructions callgrind sees
inside sae_derive_pwe for a password found at counter 1 and one that needs
counter 3 or later, with the same random stream, and requires them to differ
by less than 1 %. Exits 77 (skipped) when valgrind is missing."""
import os
import shutil
import subprocess
import sys
import tempfile

LIMIT = 0.01


def instructions(probe, password, workdir):
    out = os.path.join(workdir, f"callgrind.{len(os.listdir(workdir))}")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                    "--toggle-collect=sae_derive_pwe*", probe, "derive", password],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    raise RuntimeError(f"no totals in {out}")


def main():
    probe = sys.argv[1]
    if shutil.which("valgrind") is None:
        print("valgrind not installed")
        return 77
    found = subprocess.run([probe, "find"], check=True, capture_output=True, text=True).stdout.split()
    (early, early_counter), (late, late_counter) = (found[0], found[1]), (found[2], found[3])
    workdir = tempfile.mkdtemp(prefix="sae-pwe-callgrind-")
    early_ir = instructions(probe, early, workdir)
    late_ir = instructions(probe, late, workdir)
    difference = abs(late_ir - early_ir) / early_ir
    print(f"sae_derive_pwe instructions: '{early}' (counter {early_counter}) {early_ir}, "
          f"'{late}' (counter {late_counter}) {late_ir}, difference {100 * difference:.4f} %")
    shutil.rmtree(workdir)
    return 0 if difference < LIMIT else 1


if __name__ == "__main__":
    sys.exit(main())
