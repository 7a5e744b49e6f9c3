#!/usr/bin/env python3
"""Boots Debian's OVMF under QEMU (software emulation, headless) with a FAT
disk holding the given files and a startup.nsh, and returns what the UEFI
programs wrote to the debug console port 0x402.

The UEFI shell runs startup.nsh from the disk after its countdown; the script
must end with "reset -s" so QEMU exits. A hard timeout stops a boot that
hangs (for instance at "Press any key")."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

OVMF_CODE = "/usr/share/OVMF/OVMF_CODE_4M.fd"
OVMF_VARS = "/usr/share/OVMF/OVMF_VARS_4M.fd"


def run(files, script_lines, timeout, workdir):
    fs = os.path.join(workdir, "fs")
    os.makedirs(fs, exist_ok=True)
    for f in files:
        shutil.copy(f, fs)
    with open(os.path.join(fs, "startup.nsh"), "w", newline="") as f:
        f.write("".join(line + "\r\n" for line in script_lines))
    esp = os.path.join(workdir, "esp.img")
    if os.path.exists(esp):
        os.remove(esp)
    subprocess.run(["mkfs.fat", "-C", "-F", "16", esp, "16384"], check=True, stdout=subprocess.DEVNULL)
    names = [os.path.join(fs, n) for n in os.listdir(fs)]
    subprocess.run(["mcopy", "-s", "-o", "-i", esp] + names + ["::/"], check=True)
    vars_copy = os.path.join(workdir, "vars.fd")
    shutil.copy(OVMF_VARS, vars_copy)
    debug_log = os.path.join(workdir, "debugcon.log")
    serial_log = os.path.join(workdir, "serial.log")
    for p in (debug_log, serial_log):
        if os.path.exists(p):
            os.remove(p)
    cmd = [
        "qemu-system-x86_64", "-machine", "q35", "-accel", "tcg", "-m", "256", "-smp", "1",
        "-nodefaults", "-display", "none", "-net", "none", "-no-reboot",
        "-serial", "file:" + serial_log,
        "-drive", "if=pflash,format=raw,unit=0,readonly=on,file=" + OVMF_CODE,
        "-drive", "if=pflash,format=raw,unit=1,file=" + vars_copy,
        "-drive", "format=raw,file=" + esp,
        "-debugcon", "file:" + debug_log, "-global", "isa-debugcon.iobase=0x402",
    ]
    start = time.monotonic()
    try:
        result = subprocess.run(cmd, timeout=timeout)
        status = result.returncode
    except subprocess.TimeoutExpired:
        status = "timeout"
    elapsed = time.monotonic() - start
    text = open(debug_log, errors="replace").read() if os.path.exists(debug_log) else ""
    return status, elapsed, text


def serial_text(workdir):
    """The firmware console as plain text (ANSI escapes removed)."""
    path = os.path.join(workdir, "serial.log")
    if not os.path.exists(path):
        return ""
    raw = open(path, errors="replace").read()
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", raw).replace("\r", "")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--file", action="append", default=[], help="file to put on the FAT disk")
    parser.add_argument("--line", action="append", default=[], help="startup.nsh line (repeatable)")
    parser.add_argument("--timeout", type=int, default=240)
    parser.add_argument("--workdir", help="keep the disk image and logs here")
    parser.add_argument("--console", metavar="REGEX", help="also print console lines matching REGEX")
    args = parser.parse_args()
    workdir = args.workdir or tempfile.mkdtemp(prefix="ovmf-")
    os.makedirs(workdir, exist_ok=True)
    status, elapsed, text = run(args.file, args.line, args.timeout, workdir)
    if args.console:
        for line in serial_text(workdir).splitlines():
            if re.search(args.console, line):
                print("console: " + line.strip())
    sys.stdout.write(text)
    sys.stderr.write(f"qemu: status {status}, {elapsed:.1f} s, logs in {workdir}\n")
    return 0 if status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
