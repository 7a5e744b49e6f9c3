#!/usr/bin/env bash
# `make bench`: runs every benchmark program that has been built. Programs
# with a section below get their ratios printed; the others run plainly.
#
# The machine may be shared: each benchmark runs a few short repetitions and
# the ratios use the fastest repetition (the least disturbed one).
# BENCH_REPETITIONS and BENCH_MIN_TIME (seconds) override the defaults.
set -euo pipefail
cd "$(dirname "$0")/.."

BIN=build/host/bin
REPETITIONS=${BENCH_REPETITIONS:-3}
MIN_TIME=${BENCH_MIN_TIME:-0.1}
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
ran=0

run_json() {  # run_json OUTPUT BINARY [ARGS...]
  local output=$1
  shift
  "$@" --benchmark_format=json --benchmark_repetitions="$REPETITIONS" \
    --benchmark_min_time="$MIN_TIME" >"$output"
}

# --- crypto-bench: our primitives against OpenSSL 3 -------------------------
# OpenSSL chooses its x86 code from OPENSSL_ia32cap, "[~]A:[~]B": A holds
# CPUID.1 EDX (bits 0-31) and ECX (bits 32-63), B holds CPUID.7.0 EBX (bits
# 0-31) and ECX (bits 32-63); "~" masks the given bits off. Bit 29 of B is the
# SHA extensions, bit 41 of A is SSSE3 (the gate to all of OpenSSL's SIMD
# SHA-1 code). So ":~0x20000000" leaves OpenSSL's AVX2 SHA-1, and
# "~0x20000000000:~0x20000000" leaves its plain integer SHA-1, the like of
# our portable code.
if [ -x "$BIN/crypto-bench" ]; then
  echo "== $BIN/crypto-bench"
  ran=1
  run_json "$OUT/crypto.json" "$BIN/crypto-bench"
  OPENSSL_ia32cap=":~0x20000000" run_json "$OUT/crypto-nosha.json" "$BIN/crypto-bench" \
    --benchmark_filter='BM_Sha1_16KiB/openssl'
  OPENSSL_ia32cap="~0x20000000000:~0x20000000" run_json "$OUT/crypto-scalar.json" "$BIN/crypto-bench" \
    --benchmark_filter='BM_Sha1_16KiB/openssl'
  python3 - "$OUT/crypto.json" "$OUT/crypto-nosha.json" "$OUT/crypto-scalar.json" <<'PY'
import json, sys

SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

def fastest(path):
    report = json.load(open(path))
    best = {}
    for run in report["benchmarks"]:
        if run.get("run_type") != "iteration":
            continue
        ns = run["cpu_time"] * SCALE[run["time_unit"]]
        best[run["run_name"]] = min(ns, best.get(run["run_name"], ns))
    return report["context"], best

context, times = fastest(sys.argv[1])
_, nosha = fastest(sys.argv[2])
_, scalar = fastest(sys.argv[3])
print("CPU features used: SHA extensions %s, AES-NI %s" % (context.get("sha_extensions", "?"), context.get("aes_ni", "?")))
print("%-22s %12s %12s %12s %9s %9s" % ("benchmark", "own", "portable", "openssl", "own/ossl", "port/ossl"))
for name in ("BM_Pbkdf2Psk", "BM_HmacSha256_64B", "BM_Sha256_16KiB", "BM_Sha1_16KiB", "BM_AesCmac_128B"):
    own, portable, openssl = (times.get(name + "/" + v) for v in ("own", "portable", "openssl"))
    if None in (own, portable, openssl):
        continue
    print("%-22s %10.0fns %10.0fns %10.0fns %9.2f %9.2f" % (name, own, portable, openssl, own / openssl, portable / openssl))
pbkdf2 = times["BM_Pbkdf2Psk/own"] / times["BM_Pbkdf2Psk/openssl"]
print("PBKDF2 own/openssl = %.2f (goal <= 1.0): %s" % (pbkdf2, "met" if pbkdf2 <= 1.0 else "MISSED"))
# The PSK is 16,384 SHA-1 compressions (two chains of 4,096 HMACs); the floor
# is that many blocks at the streaming rate of one SHA-1 (16 KiB = 256 blocks).
floor = 16384 * times["BM_Sha1_16KiB/own"] / 256
floor_ratio = times["BM_Pbkdf2Psk/own"] / floor
print("PBKDF2 own / (16384 x SHA-1 block) = %.2f (goal <= 1.0): %s; floor %.0f us, PSK %.0f us"
      % (floor_ratio, "met" if floor_ratio <= 1.0 else "MISSED", floor / 1e3, times["BM_Pbkdf2Psk/own"] / 1e3))
portable_sha1 = times["BM_Sha1_16KiB/portable"]
for label, table in (("SHA ext. masked (AVX2 code)", nosha), ("SHA ext. and SSSE3 masked (integer code)", scalar)):
    openssl = table["BM_Sha1_16KiB/openssl"]
    ratio = portable_sha1 / openssl
    print("SHA-1 portable / OpenSSL with %s = %.2f (goal <= 1.5): %s" % (label, ratio, "met" if ratio <= 1.5 else "MISSED"))
PY
fi

# --- sup-bench: a whole WPA2-PSK connection against the pass-phrase derivation;
# the P-256 scalar multiplication against OpenSSL's; WPA3 in scalar
# multiplications
if [ -x "$BIN/sup-bench" ]; then
  echo "== $BIN/sup-bench"
  ran=1
  run_json "$OUT/sup.json" "$BIN/sup-bench"
  python3 - "$OUT/sup.json" <<'PY'
import json, sys

SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
best = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("run_type") == "iteration":
        ns = run["cpu_time"] * SCALE[run["time_unit"]]
        best[run["run_name"]] = min(ns, best.get(run["run_name"], ns))
connect, pbkdf2 = best["BM_Wpa2Connect"], best["BM_Pbkdf2Psk/own"]
print("BM_Wpa2Connect %.0f us, BM_Pbkdf2Psk/own %.0f us" % (connect / 1e3, pbkdf2 / 1e3))
ratio = connect / pbkdf2
print("Wpa2Connect / Pbkdf2Psk = %.3f (goal <= 1.05): %s" % (ratio, "met" if ratio <= 1.05 else "MISSED"))
own, mul, openssl = (best["BM_EcpMulP256/" + v] for v in ("own", "mbedtls", "openssl"))
exp = best["BM_ModExpP256"]
print("BM_EcpMulP256 own %.1f us, mbedtls %.0f us, openssl %.1f us; BM_ModExpP256 %.1f us"
      % (own / 1e3, mul / 1e3, openssl / 1e3, exp / 1e3))
ratio = own / openssl
print("EcpMulP256 own/openssl = %.2f (goal <= 1.5): %s" % (ratio, "met" if ratio <= 1.5 else "MISSED"))
for name in ("BM_SaeCommit", "BM_SaePeerCommit", "BM_Wpa3Connect", "BM_SaeH2ePt", "BM_SaeH2eCommit",
             "BM_Wpa3ConnectH2e"):
    print("%-17s %6.0f us = %5.2f EcpMul/own = %5.2f EcpMul/openssl" % (name, best[name] / 1e3, best[name] / own,
                                                                      best[name] / openssl))
ratio = best["BM_Wpa3Connect"] / (3 * mul + 45 * exp)
print("Wpa3Connect / (3 EcpMul/mbedtls + 45 ModExp) = %.3f (goal <= 1.0): %s" % (ratio, "met" if ratio <= 1.0 else "MISSED"))
PY
fi

# --- sae-cost: the WPA3 ratio in instructions (callgrind), which a busy machine
# cannot disturb
if [ -x "$BIN/sae-cost" ] && command -v valgrind >/dev/null; then
  echo "== $BIN/sae-cost under callgrind"
  ran=1
  valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$OUT/sae-cost.out" "$BIN/sae-cost" \
    2>/dev/null
  python3 - "$OUT"/sae-cost.out.* <<'PY'
import sys

counts = {}
for path in sys.argv[1:]:
    name = total = None
    for line in open(path):
        if line.startswith("desc: Trigger: Client Request: "):
            name = line.split(": ", 3)[3].strip()
        elif line.startswith("summary: "):
            total = int(line.split()[1])
    if name:
        counts[name] = total
mul, exp, connect = counts["ecp-mul"], counts["mod-exp"], counts["wpa3-connect"]
print("instructions: EcpMul %d (own %d), ModExp %d, Wpa3Connect (station side) %d"
      % (mul, counts["ecp-mul-own"], exp, connect))
ratio = connect / (3 * mul + 45 * exp)
print("Wpa3Connect / (3 EcpMul + 45 ModExp) in instructions = %.3f" % ratio)
print("Wpa3Connect (station side) %.2f M instructions (goal <= 11 M): %s"
      % (connect / 1e6, "met" if connect <= 11e6 else "MISSED"))
PY
fi

# --- every other benchmark program --------------------------------------------
for bench in "$BIN"/*-bench; do
  [ -x "$bench" ] || continue
  case "$(basename "$bench")" in
    crypto-bench | sup-bench) continue ;;
  esac
  echo "== $bench"
  "$bench" --benchmark_min_time=0.2
  ran=1
done
# --- UEFI images: sizes against their goals ------------------------------------
# The personal-only supplicant (WPA, WPA2, PSK-SHA256, SAE) has to fit 100 KiB,
# the enterprise one (with EAP-TLS) 300 KiB, the controller-hub driver 64 KiB.
# Built with NORV_ENTERPRISE on, NorvSupDxe.efi is the enterprise driver and
# NorvSupDxePersonal.efi the personal one; otherwise NorvSupDxe.efi is the
# personal driver. The configured option decides, not a file left over from
# an earlier build.
kib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1024 }'; }
verdict() { awk -v b="$1" -v g="$2" 'BEGIN { print (b <= g * 1024 ? "met" : "MISSED") }'; }
image_size() {  # image_size FILE LABEL GOAL_KIB
  local bytes
  bytes=$(stat -c %s "build/efi/$1")
  printf "%-24s %7d bytes = %6s KiB (goal %s <= %d KiB: %s)\n" "$1" "$bytes" "$(kib "$bytes")" "$2" "$3" \
    "$(verdict "$bytes" "$3")"
}
if [ -f build/efi/NorvSupDxe.efi ] && [ -f build/efi/XchKryDxe.efi ]; then
  echo "== UEFI image sizes"
  ran=1
  enterprise=$(sed -n 's/^NORV_ENTERPRISE:BOOL=//p' build/efi-cmake/CMakeCache.txt 2>/dev/null || true)
  if [ "$enterprise" = ON ] && [ -f build/efi/NorvSupDxePersonal.efi ]; then
    image_size NorvSupDxePersonal.efi personal 100
    image_size NorvSupDxe.efi enterprise 300
  else
    image_size NorvSupDxe.efi personal 100
  fi
  image_size XchKryDxe.efi hub 64
fi

# --- the OVMF suite: wall time of one whole firmware run (tests/firmware,
# direct boot: volume, QEMU, every suite), fastest of the repetitions
if [ -f build/efi/tests/SupTestApp.efi ] && command -v qemu-system-x86_64 >/dev/null; then
  echo "== OVMF suite (firmware.supplicant-in-ovmf), $REPETITIONS runs"
  ran=1
  best=
  for _ in $(seq "$REPETITIONS"); do
    start=$(date +%s.%N)
    python3 tests/firmware/sup_firmware_test.py build/efi tests/firmware/sup-expected-checks.txt --mode direct \
      --workdir "$OUT/ovmf" >"$OUT/ovmf.txt" 2>&1 || { tail -5 "$OUT/ovmf.txt"; exit 1; }
    wall=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
    echo "$(grep '^direct: ' "$OUT/ovmf.txt" | sed 's/ (logs in .*)//'); wall $wall s"
    best=$(awk -v a="${best:-$wall}" -v b="$wall" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "OVMF suite wall time $best s (goal <= 6 s): $(awk -v t="$best" 'BEGIN { print (t <= 6 ? "met" : "MISSED") }')"
fi

[ "$ran" -eq 1 ] || echo "no benchmark programs built yet"
