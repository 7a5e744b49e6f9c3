#!/usr/bin/env python3
"""Boots Debian's OVMF under QEMU (software emulation, headless) from a FAT
disk whose \\EFI\\BOOT\\BOOTX64.EFI is the given UEFI application, next to
the other files given, and returns what the UEFI programs wrote to the debug
console port 0x402 and to the firmware console (the serial port).

The firmware boots the application straight away (no UEFI shell, no
countdown). The application ends the run with ResetSystem(EfiResetShutdown),
which makes QEMU exit 0. A hard timeout stops a boot that hangs (a refused or
missing application leaves the firmware at "Press any key").

Entropy: "full" gives the guest a virtio RNG (OVMF then publishes
EFI_RNG_PROTOCOL) and a CPU model with RDRAND/RDSEED; "cpu" only the CPU
model; "none" neither (QEMU's default CPU has no RDRAND/RDSEED).

Secure Boot: OVMF built with Secure Boot and SMM, with a fresh copy of
Debian's variable store that enrols the snakeoil certificate
(/usr/share/ovmf/PkKek-1-snakeoil.pem) as PK, KEK and db; only images signed
with its key load."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

# Without Secure Boot: the 2 MiB image with its variable store inside (loaded
# with -bios, variables kept in memory); it reaches the boot manager in about
# 2.7 s where the 4 MiB flash pair takes about 4.4 s under TCG.
OVMF_BIOS = "/usr/share/ovmf/OVMF.fd"
SECURE_CODE = "/usr/share/OVMF/OVMF_CODE_4M.snakeoil.fd"
SECURE_VARS = "/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd"
BOOT_PATH = "EFI/BOOT/BOOTX64.EFI"
ENTROPY_FLAGS = {
    "full": ["-cpu", "max", "-device", "virtio-rng-pci"],
    "cpu": ["-cpu", "max"],
    "none": [],
}


@dataclass
class Run:
    status: object  # QEMU's exit status, or "timeout"
    elapsed: float  # seconds QEMU ran
    debug: str  # what reached port 0x402
    console: str  # the firmware console, ANSI escapes removed
    workdir: str


def make_esp(workdir, entries):
    """A FAT disk image (no partition table) holding (source, path on the
    volume) entries."""
    fs = os.path.join(workdir, "fs")
    shutil.rmtree(fs, ignore_errors=True)
    for source, path in entries:
        target = os.path.join(fs, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
    esp = os.path.join(workdir, "esp.img")
    if os.path.exists(esp):
        os.remove(esp)
    subprocess.run(["mkfs.fat", "-C", "-F", "16", esp, "16384"], check=True, stdout=subprocess.DEVNULL)
    names = [os.path.join(fs, n) for n in sorted(os.listdir(fs))]
    subprocess.run(["mcopy", "-s", "-o", "-i", esp] + names + ["::/"], check=True)
    return esp


def firmware_flags(secure_boot, vars_copy):
    if not secure_boot:
        return ["-machine", "q35", "-bios", OVMF_BIOS]
    # Secure Boot needs SMM, and a variable store only SMM may write.
    return ["-machine", "q35,smm=on", "-global", "driver=cfi.pflash01,property=secure,value=on",
            "-drive", "if=pflash,format=raw,unit=0,readonly=on,file=" + SECURE_CODE,
            "-drive", "if=pflash,format=raw,unit=1,file=" + vars_copy]


def qemu_command(esp, vars_copy, debug_log, serial_log, secure_boot, entropy):
    return (["qemu-system-x86_64", "-accel", "tcg", "-m", "256", "-smp", "1"]
            + firmware_flags(secure_boot, vars_copy) + ENTROPY_FLAGS[entropy]
            + ["-nodefaults", "-display", "none", "-net", "none", "-no-reboot",
               "-serial", "file:" + serial_log,
               # virtio-blk: OVMF gets to the boot manager a few tenths of a
               # second sooner than through the q35 AHCI controller.
               "-drive", "if=none,id=esp,format=raw,file=" + esp, "-device", "virtio-blk-pci,drive=esp",
               "-debugcon", "file:" + debug_log, "-global", "isa-debugcon.iobase=0x402"])


def plain_console(raw):
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", raw).replace("\r", "")


def boot(app, files=(), workdir=None, secure_boot=False, entropy="full", timeout=120):
    """Boots app as \\EFI\\BOOT\\BOOTX64.EFI with files ((source, path on the
    volume) pairs) beside it."""
    workdir = workdir or tempfile.mkdtemp(prefix="ovmf-")
    os.makedirs(workdir, exist_ok=True)
    esp = make_esp(workdir, [(app, BOOT_PATH)] + list(files))
    vars_copy = os.path.join(workdir, "vars.fd")
    if secure_boot:
        # The firmware writes to its variable store: always a fresh copy.
        shutil.copyfile(SECURE_VARS, vars_copy)
    debug_log = os.path.join(workdir, "debugcon.log")
    serial_log = os.path.join(workdir, "serial.log")
    for path in (debug_log, serial_log):
        if os.path.exists(path):
            os.remove(path)
    cmd = qemu_command(esp, vars_copy, debug_log, serial_log, secure_boot, entropy)
    start = time.monotonic()
    try:
        status = subprocess.run(cmd, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        status = "timeout"
    elapsed = time.monotonic() - start

    def read(path):
        return open(path, errors="replace").read() if os.path.exists(path) else ""

    return Run(status, elapsed, read(debug_log), plain_console(read(serial_log)), workdir)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--app", required=True, help="the application booted as \\EFI\\BOOT\\BOOTX64.EFI")
    parser.add_argument("--file", action="append", default=[], metavar="SOURCE[=PATH]",
                        help="file to put on the volume (at its root unless PATH is given)")
    parser.add_argument("--secure-boot", action="store_true")
    parser.add_argument("--entropy", choices=sorted(ENTROPY_FLAGS), default="full")
    parser.add_argument("--timeout", type=int, default=120)
    parser.add_argument("--workdir", help="keep the disk image and logs here")
    parser.add_argument("--console", metavar="REGEX", help="also print console lines matching REGEX")
    args = parser.parse_args()
    files = []
    for item in args.file:
        source, _, path = item.partition("=")
        files.append((source, path or os.path.basename(source)))
    run = boot(args.app, files, args.workdir, args.secure_boot, args.entropy, args.timeout)
    if args.console:
        for line in run.console.splitlines():
            if re.search(args.console, line):
                print("console: " + line.strip())
    sys.stdout.write(run.debug)
    sys.stderr.write(f"qemu: status {run.status}, {run.elapsed:.1f} s, logs in {run.workdir}\n")
    return 0 if run.status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
