#!/usr/bin/env python3
"""The time of a group-19 scalar multiplication must not depend on the
scalar. Counts the instructions callgrind sees inside ecc_point_mul for the
scalars 1, n - 1 and a random one, with the same random stream, and requires
the largest and smallest count to differ by less than 0.1 %. Exits 77
(skipped) when valgrind is missing."""
import os
import secrets
import shutil
import subprocess
import sys
import tempfile

LIMIT = 0.001
ORDER = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551


def instructions(probe, scalar, workdir):
    out = os.path.join(workdir, f"callgrind.{len(os.listdir(workdir))}")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                    "--toggle-collect=ecc_point_mul*", probe, f"{scalar:064X}"],
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
    scalars = {"1": 1, "n - 1": ORDER - 1, "random": 2 + secrets.randbelow(ORDER - 3)}
    workdir = tempfile.mkdtemp(prefix="sae-point-mul-callgrind-")
    counts = {name: instructions(probe, value, workdir) for name, value in scalars.items()}
    shutil.rmtree(workdir)
    spread = (max(counts.values()) - min(counts.values())) / min(counts.values())
    print("ecc_point_mul instructions: " + ", ".join(f"{name} {count}" for name, count in counts.items()) +
          f"; spread {100 * spread:.4f} % (random scalar {scalars['random']:064X})")
    return 0 if spread < LIMIT and min(counts.values()) > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
