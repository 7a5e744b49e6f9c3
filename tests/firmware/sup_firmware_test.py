#!/usr/bin/env python3
"""The supplicant inside real UEFI firmware: OVMF loads NorvSupDxe.efi from
the shell, the test application runs every suite against it, the shell
unloads the driver by its handle number, and the application checks that
nothing of the driver is left. Fails on any FAIL line, on a missing SUMMARY,
and on any expected check that did not report."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "qemu"))
import run_ovmf  # noqa: E402

SCRIPT = [
    "fs0:",
    "load NorvSupDxe.efi",
    "SupTestApp.efi",
    "dh -p SupplicantServiceBinding > dh.txt",
    "SupTestApp.efi unload-script",
    "unload.nsh",
    "SupTestApp.efi unloaded",
    "reset -s",
]


def main():
    efi_dir, expected_file = sys.argv[1], sys.argv[2]
    files = [os.path.join(efi_dir, "NorvSupDxe.efi"), os.path.join(efi_dir, "tests", "SupTestApp.efi")]
    for f in files:
        if not os.path.exists(f):
            print(f"missing {f}: build the efi preset first")
            return 1
    workdir = tempfile.mkdtemp(prefix="sup-ovmf-")
    status, elapsed, text = run_ovmf.run(files, SCRIPT, 600, workdir)
    print(text)
    print(f"qemu status {status} after {elapsed:.1f} s (logs in {workdir})")
    lines = text.splitlines()
    failures = [l for l in lines if l.startswith("FAIL")]
    summaries = [l for l in lines if l.startswith("SUMMARY")]
    passed = {l[5:] for l in lines if l.startswith("PASS ")}
    expected = [l.strip() for l in open(expected_file) if l.strip() and not l.startswith("#")]
    missing = [name for name in expected if name not in passed]
    ok = True
    if status != 0:
        print(f"QEMU did not exit cleanly: {status}")
        ok = False
    if failures:
        print("failed checks:\n  " + "\n  ".join(failures))
        ok = False
    if len(summaries) != 3 or any("failed=0" not in s for s in summaries):
        print(f"expected three clean SUMMARY lines, got {summaries}")
        ok = False
    if missing:
        print("checks that never reported:\n  " + "\n  ".join(missing))
        ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
