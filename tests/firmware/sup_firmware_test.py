#!/usr/bin/env python3
"""The supplicant inside real UEFI firmware. OVMF boots SupTestApp.efi as
\\EFI\\BOOT\\BOOTX64.EFI; the application loads NorvSupDxe.efi from the same
volume, starts it, runs every suite against it, unloads it through
gBS->UnloadImage, checks that nothing of it is left and switches the machine
off (tools/efi-tests/BootSequence.h).

Modes:
  direct       a virtio RNG and a CPU with RDRAND: the driver must seed its
               DRBG from EFI_RNG_PROTOCOL
  fallback     no entropy source at all: the driver must warn once that it
               falls back to the Park-Miller generator, and every suite must
               still pass
  personal     as direct, with the personal-only driver (NorvSupDxePersonal.efi,
               no EAP-TLS) in NorvSupDxe.efi's place: every suite passes, the
               802.1X AKMs are refused and the EAP-TLS connections are skipped
  secure-boot  Secure Boot on, with the snakeoil certificate in db: the signed
               application and driver load and pass every suite; unsigned and
               altered images of both drivers are refused, a signed
               XchKryDxe.efi loads (and is unloaded without being started,
               its platform is not there). The CPU's RDRAND seeds the DRBG.

Fails on a FAIL line, on a phase without its clean SUMMARY, on SUMMARY counts
that do not add up to the PASS lines, on any expected check that did not
report, and on the wrong entropy message."""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "qemu"))
import run_ovmf  # noqa: E402

SNAKEOIL_CERT = "/usr/share/ovmf/PkKek-1-snakeoil.pem"
SEEDED = "NorvSupDxe: DRBG seeded from "
FALLBACK = "NorvSupDxe: no entropy source (EFI_RNG_PROTOCOL, RDSEED, RDRAND)"
MODES = {
    "direct": {"secure_boot": False, "entropy": "full", "console": SEEDED + "EFI_RNG_PROTOCOL", "phases": 3},
    "fallback": {"secure_boot": False, "entropy": "none", "console": FALLBACK, "phases": 3},
    "personal": {"secure_boot": False, "entropy": "full", "console": SEEDED + "EFI_RNG_PROTOCOL", "phases": 3,
                 "driver": "NorvSupDxePersonal.efi"},
    "secure-boot": {"secure_boot": True, "entropy": "cpu", "console": SEEDED + "RDRAND", "phases": 4},
}


def tamper(source, target):
    """Copies a signed image with one byte of its .text section changed (the
    Authenticode hash covers it); returns the file offset."""
    data = bytearray(open(source, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{source}: not a PE image")
    sections, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    table = pe + 24 + optional_size
    for index in range(sections):
        entry = table + 40 * index
        raw_size, raw_offset = struct.unpack_from("<II", data, entry + 16)
        if data[entry:entry + 8].rstrip(b"\0") == b".text" and raw_size > 0:
            offset = raw_offset + raw_size // 2
            data[offset] ^= 0x01
            open(target, "wb").write(data)
            return offset
    raise ValueError(f"{source}: no .text section")


def sbverify_accepts(path):
    return subprocess.run(["sbverify", "--cert", SNAKEOIL_CERT, path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def secure_boot_volume(efi_dir, workdir):
    """Signs the images with the snakeoil key and lays out the volume: the
    signed driver under test at the root, the images to verify in \\verify.
    Returns (boot application, files) or raises."""
    signed = os.path.join(workdir, "signed")
    env = {k: v for k, v in os.environ.items() if k not in ("SIGN_KEY", "SIGN_CERT")}
    images = [os.path.join(efi_dir, n) for n in ("NorvSupDxe.efi", "XchKryDxe.efi")]
    app = os.path.join(efi_dir, "tests", "SupTestApp.efi")
    subprocess.run([os.path.join(ROOT, "scripts", "sign-efi.sh"), signed] + images + [app], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    files = [(os.path.join(signed, "NorvSupDxe.efi"), "NorvSupDxe.efi"),
             (os.path.join(signed, "XchKryDxe.efi"), "verify/signed/XchKryDxe.efi")]
    for name in ("NorvSupDxe.efi", "XchKryDxe.efi"):
        tampered = os.path.join(workdir, "tampered-" + name)
        offset = tamper(os.path.join(signed, name), tampered)
        if sbverify_accepts(tampered):
            raise RuntimeError(f"sbverify still accepts {tampered} (byte {offset:#x} changed)")
        print(f"tampered {name}: byte {offset:#x} of .text changed, sbverify rejects it")
        files += [(os.path.join(efi_dir, name), "verify/unsigned/" + name), (tampered, "verify/tampered/" + name)]
    return os.path.join(signed, "SupTestApp.efi"), files


# What the personal-only driver reports instead of the enterprise checks.
ENTERPRISE_ONLY = ("eap-tls.akm", "eap-tls.untrusted-server.", "handshake.eap-tls-", "config.akm.8021x")
PERSONAL_ONLY = ["config.akm.rsn-8021x-refused", "config.akm.rsn-8021x-sha256-refused"]
PERSONAL_SKIPS = ["INFO eap-tls.akm1 skipped", "INFO eap-tls.akm5 skipped"]


def expected_checks(paths, mode):
    names = []
    for path in paths:
        names += [l.strip() for l in open(path) if l.strip() and not l.startswith("#")]
    if mode == "personal":
        names = [n for n in names if not n.startswith(ENTERPRISE_ONLY)] + PERSONAL_ONLY
    return names


def judge(run, mode, expected):
    """Returns the list of problems with the run."""
    settings = MODES[mode]
    problems = []
    lines = run.debug.splitlines()
    if run.status != 0:
        problems.append(f"QEMU did not exit cleanly: {run.status}")
    failures = [l for l in lines if l.startswith("FAIL")]
    if failures:
        problems.append("failed checks:\n  " + "\n  ".join(failures))
    passes = [l[5:] for l in lines if l.startswith("PASS ")]
    summaries = [l for l in lines if l.startswith("SUMMARY")]
    counts = []
    for line in summaries:
        fields = dict(f.split("=") for f in line.split()[1:])
        counts.append((int(fields["passed"]), int(fields["failed"])))
    if len(summaries) != settings["phases"] or any(failed != 0 for _, failed in counts):
        problems.append(f"expected {settings['phases']} clean SUMMARY lines, got {summaries}")
    if sum(p for p, _ in counts) != len(passes):
        problems.append(f"SUMMARY lines count {sum(p for p, _ in counts)} passes, the log has {len(passes)}")
    if "INFO SupTestApp done: all passed" not in lines:
        problems.append("the application did not finish")
    state = "INFO Secure Boot " + ("on" if settings["secure_boot"] else "off")
    if state not in lines:
        problems.append(f"missing '{state}'")
    if mode == "personal":
        for skip in PERSONAL_SKIPS:
            if not any(l.startswith(skip) for l in lines):
                problems.append(f"missing '{skip}'")
        enterprise = [p for p in passes if p.startswith(ENTERPRISE_ONLY)]
        if enterprise:
            problems.append("enterprise checks ran against the personal driver:\n  " + "\n  ".join(enterprise))
    missing = sorted(set(expected) - set(passes))
    if missing:
        problems.append("checks that never reported:\n  " + "\n  ".join(missing))
    console = run.console.splitlines()
    entropy = [l.strip() for l in console if l.startswith(SEEDED) or l.startswith(FALLBACK)]
    if len(entropy) != 1 or not entropy[0].startswith(settings["console"]):
        problems.append(f"expected one console line '{settings['console']}', got {entropy}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("efi_dir", help="the efi preset's output (build/efi)")
    parser.add_argument("expected", nargs="+", help="files naming the checks that must PASS")
    parser.add_argument("--mode", choices=sorted(MODES), default="direct")
    parser.add_argument("--workdir", help="keep the volume, the signed images and the logs here")
    args = parser.parse_args()
    start = time.monotonic()
    app = os.path.join(args.efi_dir, "tests", "SupTestApp.efi")
    settings = MODES[args.mode]
    driver = os.path.join(args.efi_dir, settings.get("driver", "NorvSupDxe.efi"))
    for path in (app, driver, os.path.join(args.efi_dir, "XchKryDxe.efi")):
        if not os.path.exists(path):
            print(f"missing {path}: build the efi preset first")
            return 1
    workdir = args.workdir or tempfile.mkdtemp(prefix=f"sup-ovmf-{args.mode}-")
    if args.workdir:
        shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir, exist_ok=True)
    files = [(driver, "NorvSupDxe.efi")]
    if settings["secure_boot"]:
        app, files = secure_boot_volume(args.efi_dir, workdir)
    run = run_ovmf.boot(app, files, workdir=os.path.join(workdir, "ovmf"), secure_boot=settings["secure_boot"],
                        entropy=settings["entropy"], timeout=120)
    print(run.debug)
    problems = judge(run, args.mode, expected_checks(args.expected, args.mode))
    for problem in problems:
        print(problem)
    kept = f" (logs in {run.workdir})" if problems or args.workdir else ""
    print(f"{args.mode}: QEMU status {run.status} after {run.elapsed:.1f} s, "
          f"{time.monotonic() - start:.1f} s in all{kept}")
    if not kept:
        shutil.rmtree(workdir, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
