"""Instruction counts under callgrind for the constant-time checks: how many
instructions a probe program spends inside the named functions."""
import os
import shutil
import subprocess
import tempfile

SKIPPED = 77  # CTest's skip code, when valgrind is missing


def have_valgrind():
    if shutil.which("valgrind") is None:
        print("valgrind not installed")
        return False
    return True


class Counter:
    """Runs commands under callgrind, collecting only inside `functions`
    (callgrind patterns such as "ecc_point_mul*"), in a scratch folder."""

    def __init__(self, functions, prefix):
        self.functions = functions
        self.workdir = tempfile.mkdtemp(prefix=prefix)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.workdir)

    def instructions(self, command):
        out = os.path.join(self.workdir, f"callgrind.{len(os.listdir(self.workdir))}")
        toggles = [f"--toggle-collect={function}" for function in self.functions]
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *toggles, *command],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out) as f:
            for line in f:
                if line.startswith("summary:") or line.startswith("totals:"):
                    return int(line.split()[1])
        raise RuntimeError(f"no totals in {out}")


def spread(counts):
    """(largest - smallest) / smallest of the counts."""
    low, high = min(counts), max(counts)
    return (high - low) / low
