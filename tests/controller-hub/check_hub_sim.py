#!/usr/bin/env python3
"""The hub-sim command line as other programs use it: exit codes, the JSON
Lines trace format, the data block dump, --stop-after, and runs that end
within their bounds whatever the profile."""
import json
import os
import random
import re
import resource
import subprocess
import sys

HUB_SIM, PROFILES, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
SANITIZED = len(sys.argv) > 4 and sys.argv[4] == "sanitized"
DEFAULT_PROFILE = os.path.join(os.path.dirname(__file__), "../../tools/hub-sim/profiles/default.json")
os.makedirs(WORK, exist_ok=True)
failures = []

# The data block template as documented: all zero except these bytes.
TEMPLATE = (
    "0x03: F8; 0x19: E4; 0x1B: 03 04 03 04 0F 0A 0B 04 06 0E; 0x38: 0B 20 0B; 0x3C: 0E F0; 0x3F: C0 FE; "
    "0x42: 04 04 04 08 04 10 04 20 04 B0; 0x4E: FE 01 01 03; 0x5F: 01; 0x64: D8 FE; 0x6A: 01 01 03 03 03 03 01 01; "
    "0x7A: 01; 0x7C: 01 01; 0x7F: 01 01; 0x85: 03 03; 0x9D: 04; 0xB8: 28; 0xBA: 01 01 01 01 01 01 01; "
    "0xD9: 21 21 21 21 22 22 22 22 21 21 21 21 21 21 24 24 21 21; 0xEE: 01; 0xF7: 01; 0x128: 01 01; 0x149: 0F; "
    "0x152: 10 D6 FE; 0x167: 04; 0x16D: 01 03; 0x270: 23 01 01; 0x275: D0 FE; 0x342: 01; 0x349: E8 03; "
    "0x34D: FF 7F; 0x363: 01; 0x368: D7; 0x373: 01; 0x412: 01 01 01 01; 0x434: 01 01")


def template():
    block = bytearray(1802)
    for run in TEMPLATE.split(";"):
        offset, values = run.split(":")
        at = int(offset, 16)
        for value in values.split():
            block[at] = int(value, 16)
            at += 1
    return bytes(block)


def check(condition, message):
    if not condition:
        failures.append(message)


def run(*args):
    return subprocess.run([HUB_SIM, *args], capture_output=True, text=True, timeout=60)


HEX = re.compile(r"^0x[0-9A-F]+$")
EVENTS = {"test-point", "debug", "pcd-set", "boot-script", "s3-record", "smm-communicate", "gcd",
          "protocol-install", "phase", "reset"}


def check_trace(path):
    with open(path) as trace:
        lines = trace.read().splitlines()
    check(len(lines) > 50, f"trace has only {len(lines)} lines")
    for number, text in enumerate(lines, 1):
        line = json.loads(text)
        keys = list(line)
        check(keys[:2] == ["seq", "kind"], f"line {number}: keys start {keys[:2]}")
        check(line["seq"] == number, f"line {number}: seq {line['seq']}")
        kind = line["kind"]
        if kind in ("mmio", "io", "msr"):
            check(keys == ["seq", "kind", "op", "width", "addr", "value"], f"line {number}: keys {keys}")
            check(line["op"] in ("r", "w"), f"line {number}: op {line['op']}")
            check(line["width"] in (8, 16, 32, 64), f"line {number}: width {line['width']}")
            check(HEX.match(line["addr"]) and HEX.match(line["value"]), f"line {number}: {text}")
        elif kind == "cpuid":
            check(keys == ["seq", "kind", "leaf", "subleaf"], f"line {number}: keys {keys}")
        else:
            check(kind == "event" and line.get("name") in EVENTS, f"line {number}: {text}")


default = run("--trace", f"{WORK}/t.jsonl", "--dump-block", f"{WORK}/b.bin")
check(default.returncode == 0, f"default run exited {default.returncode}: {default.stderr}")
check("Phases run: XchInitEnv 1, XchInitMid 1, XchInitLate 1" in default.stdout, "phases:\n" + default.stdout)
check_trace(f"{WORK}/t.jsonl")
check(os.path.getsize(f"{WORK}/b.bin") == 1802, "the dump is not 1802 bytes")

# The complete hub programming: per-phase write counts, and the banner both as
# the simulated UART received it and as the 23 data-register writes that
# follow the UART's initialisation in the trace.
BANNER = " --- Init Xch Uart --- "
check(re.search(r"^Register writes per phase: XchInitEnv [1-9]\d*; XchInitMid 1; XchInitLate [1-9]\d*;$",
                default.stdout, re.M), "per-phase writes:\n" + default.stdout)
check(f'UART received: "{BANNER}"' in default.stdout, "UART banner:\n" + default.stdout)
with open(f"{WORK}/t.jsonl") as trace:
    uart = [json.loads(text) for text in trace if '"0xFEDC90' in text]
uart_writes = [(line["addr"], int(line["value"], 16)) for line in uart if line["op"] == "w"]
init = [("0xFEDC900C", 0x80), ("0xFEDC9004", 0), ("0xFEDC9000", 1), ("0xFEDC900C", 3), ("0xFEDC9008", 0),
        ("0xFEDC9008", 1), ("0xFEDC9004", 0), ("0xFEDC9010", 0x1F), ("0xFEDC9010", 0)]
check(uart_writes == init + [("0xFEDC9000", ord(c)) for c in BANNER], f"UART writes in the trace: {uart_writes}")

def check_trace_memory(path):
    """The default platform's 1 MB trace window: GCD claim, PCD 806, register."""
    with open(path) as trace:
        lines = [json.loads(text) for text in trace]
    claims = [l for l in lines if l.get("name") == "gcd" and l.get("op") == "allocate"]
    sets = [l for l in lines if l.get("name") == "pcd-set" and l.get("token") == 806]
    writes = [l for l in lines if l["kind"] == "mmio" and l["op"] == "w" and l["addr"] == "0xFED803FC"]
    check(len(claims) == 1 and claims[0]["length"] == "0x100000", f"trace memory GCD claim: {claims}")
    check(len(sets) == 1 and len(writes) == 1, f"PCD 806 sets {sets}, register writes {writes}")
    if claims and sets and writes:
        base = int(claims[0]["base"], 16)
        check(int(sets[0]["value"], 16) == base, f"PCD 806 {sets[0]['value']} is not the window {base:#x}")
        value = int(writes[0]["value"], 16)
        check(value & 0xFFF00000 == base and value & 1, f"0xFED803FC = {value:#x} for the window {base:#x}")
        check(claims[0]["seq"] < sets[0]["seq"] < writes[0]["seq"], "trace memory steps out of order")


check_trace_memory(f"{WORK}/t.jsonl")

bare = run("--profile", f"{PROFILES}/no-hub-hob.json", "--dump-block", f"{WORK}/template.bin")
check(bare.returncode == 0, f"no-HOB run exited {bare.returncode}: {bare.stderr}")
with open(f"{WORK}/template.bin", "rb") as dump:
    check(dump.read() == template(), "without the controller-hub HOB the dump is not the template")

early = run("--stop-after", "entry")
check(early.returncode == 0 and "XchInitEnv 1, XchInitMid 0, XchInitLate 0" in early.stdout,
      "--stop-after entry:\n" + early.stdout)

with open(f"{WORK}/bad.json", "w") as bad:
    bad.write('{"protocol": {}}')
broken = run("--profile", f"{WORK}/bad.json")
check(broken.returncode == 2 and 'unknown key "protocol"' in broken.stderr, f"bad profile: {broken.stderr}")
check(run("--stop-after", "never").returncode != 0, "--stop-after accepts anything")


# --- Bounded runs: whatever a profile makes the driver do, the machine never
# runs out of memory. Each run gets 1 GiB: as address space, or under the
# sanitizers (which reserve terabytes of it) as resident memory.
MEMORY_MB = 1024
STUCK = "the driver looks stuck"


def run_limited(*args):
    env, limit = dict(os.environ), None
    if SANITIZED:
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), f"hard_rss_limit_mb={MEMORY_MB}"]))
    else:
        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (MEMORY_MB << 20, MEMORY_MB << 20))
    return subprocess.run([HUB_SIM, *args], capture_output=True, text=True, timeout=120, env=env, preexec_fn=limit)


def default_with(name, smu_response=1, registers=()):
    with open(DEFAULT_PROFILE) as base:
        profile = json.load(base)
    profile["smu-response"] = smu_response
    profile["registers"] += registers
    with open(f"{WORK}/{name}.json", "w") as out:
        json.dump(profile, out)
    return f"{WORK}/{name}.json"


# An SMU that never answers: the run stops at the bound and names the poll.
stuck = run_limited("--profile", default_with("smu-silent", smu_response=0))
check(stuck.returncode == 1 and "stopped during entry after 1000000 hardware accesses" in stuck.stderr and
      STUCK in stuck.stderr and "MMIO R4 0x00000000E00000BC -> 0x00000000" in stuck.stderr,
      f"silent SMU: exit {stuck.returncode}\n{stuck.stderr[-3000:]}")
small = run_limited("--profile", f"{WORK}/smu-silent.json", "--max-accesses", "5000")
check(small.returncode == 1 and "after 5000 hardware accesses" in small.stderr, f"--max-accesses: {small.stderr}")

# A PM timer on a port of the profile's choosing ticks there: the boot ends.
timer = run_limited("--profile", default_with(
    "pm-timer", registers=[{"space": "mmio", "address": "0xFED80364", "width": 16, "value": "0x808"}]))
check(timer.returncode == 0 and "XchInitEnv 1, XchInitMid 1, XchInitLate 1" in timer.stdout,
      f"PM timer at 0x808: exit {timer.returncode}\n{timer.stderr[-3000:]}")

# Random contents in every register the default boot reads (SMN registers
# behind the index/data pair included, each at its widest read): each run
# ends, or stops as stuck.
read, smn_index = {}, 0
with open(f"{WORK}/t.jsonl") as trace:
    for line in map(json.loads, trace):
        if line["kind"] in ("mmio", "io", "msr"):
            address = int(line["addr"], 16)
            if line["op"] == "w" and address == 0xE00000B8:
                smn_index = int(line["value"], 16)
            elif line["op"] == "r":
                key = ("smn", smn_index) if address == 0xE00000BC else (line["kind"], address)
                read[key] = max(read.get(key, 0), line["width"])
for seed in range(8):
    rng = random.Random(seed)
    registers = [{"space": space, "address": hex(address), "width": width, "value": hex(rng.getrandbits(width))}
                 for (space, address), width in sorted(read.items())]
    result = run_limited("--profile", default_with(f"random-{seed}", registers=registers))
    entry_failed = "Entry status: Success" not in result.stdout
    check(result.returncode == 0 or (result.returncode == 1 and (STUCK in result.stderr or entry_failed)),
          f"random registers, seed {seed}: exit {result.returncode}\n{result.stderr[-3000:]}")

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
