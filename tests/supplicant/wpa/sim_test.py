#!/usr/bin/env python3
"""Whole handshakes through sup-sim and ap-sim, checked against the world:
the keys the driver reports equal the access point's, Wireshark's tshark
decodes every captured frame and derives from the pass phrase the same KCK
and group keys, aircrack-ng recovers the pass phrase from the capture, and
every attack frame is dropped with the handshake still completing.

Usage: sim_test.py BIN_DIR CASE   (CASE names below; one CTest test each)"""
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

SSID = "Sim Test Net"
PASS = "correct horse battery"
MODES = ["wpa-psk-tkip", "wpa2-psk", "wpa2-psk-sha256"]


class Check:
    def __init__(self):
        self.failures = []

    def that(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            self.failures.append(what)
        return ok


def run(cmd, timeout=120):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)


def ap_command(bindir, mode, mfp, extra=""):
    return (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode {mode} --ssid {shlex.quote(SSID)} "
            f"--passphrase {shlex.quote(PASS)} --mfp {mfp} {extra}")


def sup_sim(bindir, mode, mfp="off", peer=None, pcap=None, extra=()):
    cmd = [os.path.join(bindir, "sup-sim"), "--mode", mode, "--ssid", SSID, "--passphrase", PASS, "--mfp", mfp,
           "--json"]
    if peer:
        cmd += ["--peer-cmd", peer]
    if pcap:
        cmd += ["--pcap", pcap]
    return run(cmd + list(extra))


# --- Wireshark and aircrack-ng ----------------------------------------------

def tshark_fields(pcap, fields):
    key = f'"wpa-pwd","{PASS}:{SSID}"'
    cmd = ["tshark", "-r", pcap, "-o", "wlan.enable_decryption:TRUE", "-o", f"uat:80211_keys:{key}",
           "-T", "fields", "-E", "separator=|"]
    for f in fields:
        cmd += ["-e", f]
    out = run(cmd).stdout
    return [line.split("|") for line in out.splitlines()]


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = []
    for byte in bytes(256) + data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out[256:])


def check_capture(c, pcap, mode, report, ap_keys):
    rows = tshark_fields(pcap, ["frame.number", "_ws.col.Info", "wlan.analysis.kck", "wlan.analysis.kek",
                                "wlan.rsn.ie.gtk_kde.gtk", "wlan.rsn.ie.igtk.kde.igtk", "eapol.keydes.key_iv",
                                "wlan_rsna_eapol.keydes.data"])
    c.that(len(rows) == report["frames_sent"] + report["frames_received"], f"{mode}: tshark reads every frame")
    decoded = all(r[1].startswith(("Authentication", "Association Request", "Association Response", "Key (Message",
                                   "Key (Group Message")) for r in rows)
    c.that(decoded, f"{mode}: every frame decodes as Authentication, Association or EAPOL-Key")
    kcks = {r[2] for r in rows if r[2]}
    c.that(kcks == {ap_keys["kck"]}, f"{mode}: tshark derives the KCK from the pass phrase ({kcks})")
    gtks = [r[4] for r in rows if r[4]]
    if mode == "wpa-psk-tkip":
        # WPA carries the raw GTK RC4-encrypted under key IV || KEK.
        last = [r for r in rows if r[1].startswith("Key (Group Message 1")][-1]
        gtk = rc4(bytes.fromhex(last[6]) + bytes.fromhex(last[3]), bytes.fromhex(last[7])).hex()
        c.that(gtk == report["gtk"]["key"], f"{mode}: GTK decrypted with tshark's KEK equals the driver's")
    else:
        c.that(bool(gtks) and gtks[-1] == report["gtk"]["key"], f"{mode}: tshark's last GTK equals the driver's")
    if report["igtk"] is not None:
        igtks = [r[5] for r in rows if r[5]]
        c.that(bool(igtks) and igtks[-1] == report["igtk"]["key"], f"{mode}: tshark's IGTK equals the driver's")


def check_aircrack(c, pcap, mode):
    if not c.that(os.path.getsize(pcap) > 24, f"{mode}: capture written"):
        return  # aircrack-ng waits forever on a missing capture
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as words:
        words.write("not the one\n12345678\n" + PASS + "\nanother guess\n")
    try:
        out = subprocess.run(["timeout", "-k", "5", "120", "aircrack-ng", "-q", "-w", words.name,
                              "-b", "02:00:00:00:00:02", "-e", SSID, pcap],
                             capture_output=True, timeout=140).stdout.decode("latin-1")
    finally:
        os.unlink(words.name)
    c.that(f"KEY FOUND! [ {PASS} ]" in out, f"{mode}: aircrack-ng recovers the pass phrase")


# --- cases --------------------------------------------------------------------

def connect_case(bindir, mode, mfp):
    c = Check()
    work = tempfile.mkdtemp(prefix="sup-sim-")
    pcap, keys = os.path.join(work, "run.pcap"), os.path.join(work, "ap.json")
    result = sup_sim(bindir, mode, mfp, peer=ap_command(bindir, mode, mfp, f"--rekeys 2 --keys-out {keys}"),
                     pcap=pcap)
    sys.stderr.write(result.stderr)
    c.that(result.returncode == 0, f"{mode}: sup-sim exits 0")
    report = json.loads(result.stdout)
    ap = json.load(open(keys))
    c.that(report["result"] == "connected" and report["peer_exit"] == 0, f"{mode}: connected, ap-sim satisfied")
    c.that(report["ptk"] == ap["ptk"], f"{mode}: PTK equals the access point's")
    c.that(report["gtk"] == ap["gtk"], f"{mode}: GTK, key id and RSC equal the access point's")
    c.that(report["igtk"] == ap["igtk"], f"{mode}: IGTK equals the access point's (or both absent)")
    c.that((report["igtk"] is not None) == (mfp != "off" and mode != "wpa-psk-tkip"), f"{mode}: IGTK only with MFP")
    c.that(report["key_refresh"] is True and report["state"] == 3, f"{mode}: keys refreshed, group handshake done")
    check_capture(c, pcap, mode, report, ap)
    check_aircrack(c, pcap, mode)
    shutil.rmtree(work)
    return c


def default_peer_case(bindir, mode):
    c = Check()
    result = sup_sim(bindir, mode, "required" if mode == "wpa2-psk-sha256" else "off")
    c.that(result.returncode == 0, f"{mode}: exits 0 against the built-in access point")
    report = json.loads(result.stdout)
    c.that(report["result"] == "connected" and report["mode"] == mode, f"{mode}: result connected")
    for field in ["state", "key_refresh", "ptk", "gtk", "igtk", "frames_sent", "frames_received"]:
        c.that(field in report, f"{mode}: summary has {field}")
    return c


def attacks_case(bindir, mode):
    c = Check()
    work = tempfile.mkdtemp(prefix="sup-sim-")
    keys = os.path.join(work, "ap.json")
    result = sup_sim(bindir, mode, "capable",
                     peer=ap_command(bindir, mode, "capable", f"--attack all --rekeys 2 --keys-out {keys}"))
    sys.stderr.write(result.stderr)
    report, ap = json.loads(result.stdout), json.load(open(keys))
    c.that(result.returncode == 0 and report["peer_exit"] == 0, f"{mode}: both sides succeed after the attacks")
    attacks = [l for l in result.stderr.splitlines() if l.startswith("ap-sim: attack ")]
    c.that(len(attacks) == 8 and ap["attacks_dropped"] == 8, f"{mode}: eight attack frames sent and dropped")
    c.that(all(l.endswith('"# drop EFI_PROTOCOL_ERROR"') for l in attacks), f"{mode}: each answered # drop")
    c.that(report["ptk"] == ap["ptk"] and report["gtk"] == ap["gtk"], f"{mode}: keys still agree afterwards")
    shutil.rmtree(work)
    return c


def usage_case(bindir):
    c = Check()
    sup = os.path.join(bindir, "sup-sim")
    for args, what in [(["--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS], "wpa3-sae not yet"),
                       (["--mode", "wpa2-psk", "--passphrase", PASS], "missing --ssid"),
                       (["--mode", "wep", "--ssid", SSID, "--passphrase", PASS], "unknown mode"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--mfp", "maybe"], "bad --mfp"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", "short"], "short pass phrase"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--sta-mac", "02:00"],
                        "bad address")]:
        result = run([sup] + args)
        c.that(result.returncode == 2, f"usage: {what} exits 2 (got {result.returncode})")
    return c


def failure_case(bindir):
    c = Check()
    result = sup_sim(bindir, "wpa2-psk", peer="true")
    c.that(result.returncode == 1 and json.loads(result.stdout)["result"] == "failed",
           "a peer that goes away at once: exit 1, result failed")
    wrong = ap_command(bindir, "wpa2-psk", "off").replace(shlex.quote(PASS), "'not the pass phrase'")
    result = sup_sim(bindir, "wpa2-psk", peer=wrong)
    c.that(result.returncode == 1 and "bad-mic" in result.stderr, "another pass phrase: exit 1, the AP saw a bad MIC")
    start = time.monotonic()
    result = sup_sim(bindir, "wpa2-psk", peer="sleep 30", extra=["--timeout", "1"])
    elapsed = time.monotonic() - start
    c.that(result.returncode == 1 and "timed out" in result.stderr, "a silent peer: exit 1 on the timeout")
    c.that(elapsed < 10, f"the timeout ends the run ({elapsed:.1f} s)")
    return c


def cases(bindir):
    table = {}
    for mode in MODES:
        table[f"connect-{mode}"] = lambda m=mode: connect_case(bindir, m, "off")
        table[f"default-peer-{mode}"] = lambda m=mode: default_peer_case(bindir, m)
        table[f"attacks-{mode}"] = lambda m=mode: attacks_case(bindir, m)
    table["connect-wpa2-psk-mfp"] = lambda: connect_case(bindir, "wpa2-psk", "capable")
    table["connect-wpa2-psk-sha256-mfp-required"] = lambda: connect_case(bindir, "wpa2-psk-sha256", "required")
    table["usage"] = lambda: usage_case(bindir)
    table["failures"] = lambda: failure_case(bindir)
    return table


def main():
    bindir, name = sys.argv[1], sys.argv[2]
    table = cases(bindir)
    if name == "list":
        print("\n".join(table))
        return 0
    c = table[name]()
    if c.failures:
        print(f"{len(c.failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
