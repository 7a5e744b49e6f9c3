#!/usr/bin/env python3
"""Whole handshakes through sup-sim and ap-sim, checked against the world:
the keys the driver reports equal the access point's, Wireshark's tshark
decodes every captured frame and derives from the pass phrase (for WPA3-SAE:
from the PMK of the exchange) the same KCK and group keys, aircrack-ng
recovers the pass phrase from the capture where it supports the mode, and
every attack frame is dropped with the handshake still completing.

Usage: sim_test.py BIN_DIR CASE   (CASE names below; one CTest test each)"""
import json
import os
import shlex
import shutil
import struct
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
    cmd = [os.path.join(bindir, "sup-sim"), "--mode", mode, "--ssid", SSID, "--passphrase", PASS, "--json"]
    if mfp is not None:
        cmd += ["--mfp", mfp]
    if peer:
        cmd += ["--peer-cmd", peer]
    if pcap:
        cmd += ["--pcap", pcap]
    return run(cmd + list(extra))


# --- Wireshark and aircrack-ng ----------------------------------------------

def tshark_fields(pcap, fields, key=None):
    key = key or f'"wpa-pwd","{PASS}:{SSID}"'
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


def check_sae_capture(c, pcap, report, ap_keys):
    """The SAE exchange as Wireshark reads it, then the 4-way handshake
    decrypted with the PMK the access point derived."""
    rows = tshark_fields(pcap, ["_ws.col.Info", "wlan.fixed.auth.alg", "wlan.fixed.sae_message_type",
                                "wlan.fixed.finite_cyclic_group", "wlan.fixed.send_confirm", "wlan.analysis.kck",
                                "wlan.rsn.ie.gtk_kde.gtk", "wlan.rsn.ie.igtk.kde.igtk"],
                         key=f'"wpa-psk","{ap_keys["pmk"]}"')
    c.that(len(rows) == report["frames_sent"] + report["frames_received"], "wpa3-sae: tshark reads every frame")
    sae = [r for r in rows if r[1] == "3"]
    c.that([r[2] for r in sae] == ["1", "1", "2", "2"], "wpa3-sae: commit, commit, confirm, confirm")
    c.that(all(r[3] == "19" for r in sae[:2]), "wpa3-sae: both commits name group 19")
    c.that([r[4] for r in sae[2:]] == ["0", "1"], "wpa3-sae: station send-confirm 0, access point's 1")
    kcks = {r[5] for r in rows if r[5]}
    c.that(kcks == {ap_keys["kck"]}, f"wpa3-sae: tshark derives the KCK from the SAE PMK ({kcks})")
    gtks = [r[6] for r in rows if r[6]]
    c.that(bool(gtks) and gtks[-1] == report["gtk"]["key"], "wpa3-sae: tshark's last GTK equals the driver's")
    igtks = [r[7] for r in rows if r[7]]
    c.that(bool(igtks) and igtks[-1] == report["igtk"]["key"], "wpa3-sae: tshark's IGTK equals the driver's")


# --- cases --------------------------------------------------------------------

def sae_connect_case(bindir):
    c = Check()
    work = tempfile.mkdtemp(prefix="sup-sim-")
    pcap, keys = os.path.join(work, "run.pcap"), os.path.join(work, "ap.json")
    # No --mfp on either side: WPA3 offers management-frame protection by default.
    peer = (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode wpa3-sae --ssid {shlex.quote(SSID)} "
            f"--passphrase {shlex.quote(PASS)} --rekeys 2 --keys-out {keys}")
    result = run([os.path.join(bindir, "sup-sim"), "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS,
                  "--json", "--peer-cmd", peer, "--pcap", pcap])
    sys.stderr.write(result.stderr)
    c.that(result.returncode == 0, "wpa3-sae: sup-sim exits 0")
    report, ap = json.loads(result.stdout), json.load(open(keys))
    c.that(report["result"] == "connected" and report["peer_exit"] == 0, "wpa3-sae: connected, ap-sim satisfied")
    c.that(report["ptk"] == ap["ptk"] and report["gtk"] == ap["gtk"], "wpa3-sae: PTK and GTK equal the AP's")
    c.that(report["igtk"] is not None and report["igtk"] == ap["igtk"], "wpa3-sae: MFP by default, IGTK equal")
    c.that(ap["pmk"] is not None and report["pmk"] == ap["pmk"], "wpa3-sae: the station's SAE PMK equals the AP's")
    check_sae_capture(c, pcap, report, ap)
    shutil.rmtree(work)
    return c


def sae_reflector_case(bindir):
    """A peer that sends the station's own commit back as the access
    point's: the station must not take it, and never connects."""
    c = Check()
    reflector = ("import sys\n"
                 "line = sys.stdin.readline().strip()\n"
                 "frame = bytes.fromhex(line)\n"
                 "reflected = frame[:4] + frame[10:16] + frame[4:10] + frame[16:]\n"
                 "print(reflected.hex(), flush=True)\n"
                 "sys.stderr.write('reflector: station answered ' + sys.stdin.readline())\n")
    result = run([os.path.join(bindir, "sup-sim"), "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS,
                  "--json", "--peer-cmd", f"python3 -c {shlex.quote(reflector)}"])
    sys.stderr.write(result.stderr)
    c.that(result.returncode == 1 and json.loads(result.stdout)["result"] == "failed",
           "reflected commit: exit 1, result failed")
    c.that("reflector: station answered # drop sae-commit-9" in result.stderr, "reflected commit: dropped with 9")
    return c


def sae_option_case(bindir, station_args, ap_args, what, keep_pcap=False):
    """sup-sim and ap-sim with SAE options; both satisfied, the PMKs equal,
    and Wireshark reads the exchange and decrypts the 4-way handshake with
    the PMK. Returns the check, the tshark rows of the SAE frames and the
    report."""
    c = Check()
    work = tempfile.mkdtemp(prefix="sup-sim-")
    pcap, keys = os.path.join(work, "run.pcap"), os.path.join(work, "ap.json")
    peer = (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode wpa3-sae --ssid {shlex.quote(SSID)} "
            f"--passphrase {shlex.quote(PASS)} --keys-out {keys} {ap_args}")
    result = run([os.path.join(bindir, "sup-sim"), "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS,
                  "--json", "--peer-cmd", peer, "--pcap", pcap] + station_args)
    sys.stderr.write(result.stderr)
    report, ap = json.loads(result.stdout), json.load(open(keys))
    c.that(result.returncode == 0 and report["result"] == "connected" and report["peer_exit"] == 0,
           f"{what}: connected, ap-sim satisfied")
    c.that(ap["pmk"] is not None and report["pmk"] == ap["pmk"], f"{what}: the station's SAE PMK equals the AP's")
    rows = tshark_fields(pcap, ["_ws.col.Info", "wlan.fixed.auth.alg", "wlan.fixed.auth_seq", "wlan.fixed.status_code",
                                "wlan.fixed.finite_cyclic_group", "wlan.ext_tag.sae.password_identifier",
                                "wlan.ext_tag.sae.anti_clogging_token", "wlan.fixed.anti_clogging_token",
                                "wlan.analysis.kck", "wlan.fixed.scalar"],
                         key=f'"wpa-psk","{ap["pmk"]}"')
    c.that(len(rows) == report["frames_sent"] + report["frames_received"], f"{what}: tshark reads every frame")
    kcks = {r[8] for r in rows if r[8]}
    c.that(kcks == {ap["kck"]}, f"{what}: tshark derives the KCK from the SAE PMK ({kcks})")
    sae = [r for r in rows if r[1] == "3"]
    if keep_pcap:
        sae.append(pcap)  # the caller reads it and removes its folder
    else:
        shutil.rmtree(work)
    return c, sae, report


def sae_h2e_case(bindir, password_id):
    station = ["--sae-pwe", "h2e"] + (["--password-id", password_id] if password_id else [])
    ap = "--sae-pwe h2e" + (f" --password-id {shlex.quote(password_id)}" if password_id else "")
    what = "h2e" + (" with a password identifier" if password_id else "")
    c, sae, _ = sae_option_case(bindir, station, ap, what)
    commits = [r for r in sae if r[2] == "0x0001"]
    c.that(len(commits) == 2 and all(r[3] == "0x007e" and r[4] == "19" for r in commits),
           f"{what}: both commits carry status 126 and group 19")
    c.that([r[5] for r in commits] == [password_id or ""] * 2,
           f"{what}: the password identifier element is in both commits exactly when set ({[r[5] for r in commits]})")
    return c


def sae_commit_bodies(pcap):
    """The SAE commit frames of an IEEE 802.11 capture, in order, as (status,
    body after the status) pairs, read from the raw bytes. tshark cannot
    always tell where a hunting-and-pecking token ends: a random token that
    happens to look like an element is cut short there."""
    data = open(pcap, "rb").read()
    commits, offset = [], 24
    while offset + 16 <= len(data):
        length = struct.unpack_from("<I", data, offset + 8)[0]
        frame = data[offset + 16:offset + 16 + length]
        offset += 16 + length
        # Management, subtype authentication (0xB0); algorithm 3 (SAE), transaction 1 (commit).
        if len(frame) >= 30 and frame[0] == 0xB0 and struct.unpack_from("<HH", frame, 24) == (3, 1):
            commits.append((struct.unpack_from("<H", frame, 28)[0], frame[30:]))
    return commits


def sae_anti_clogging_case(bindir, pwe):
    what = f"anti-clogging ({pwe})"
    c, sae, _ = sae_option_case(bindir, ["--sae-pwe", pwe], "--anti-clogging", what, keep_pcap=True)
    pcap = sae.pop()
    commits = sae_commit_bodies(pcap)
    shutil.rmtree(os.path.dirname(pcap))
    status = 126 if pwe == "h2e" else 0
    c.that([s for s, _ in commits] == [status, 76, status, status],
           f"{what}: commit, token request (76), commit again, the access point's commit")
    # Bodies: group (2 octets), then the token in the request; a commit adds
    # the token, scalar and element. Under H2E the token travels in an
    # anti-clogging token container (element 255, length, extension id 93),
    # in the commit after the element.
    container = 3 if pwe == "h2e" else 0
    asked = commits[1][1][2 + container:].hex() if len(commits) > 1 else ""
    second = commits[2][1] if len(commits) > 2 else b""
    carried = (second[2 + 96 + container:] if pwe == "h2e" else second[2:2 + 32]).hex()
    c.that(len(asked) == 64 and carried == asked,
           f"{what}: the second commit carries the 32-byte token asked for ({asked})")
    c.that(len(commits) > 0 and len(commits[0][1]) == 2 + 96, f"{what}: the first commit carries none")
    return c


def sae_refusal_case(bindir):
    """An access point refusing the commit (another method, an unknown
    identifier): the station drops the refusal and exits 1."""
    c = Check()
    ap = shlex.quote(os.path.join(bindir, "ap-sim"))
    for station, ap_args, status, what in [
            (["--sae-pwe", "h2e"], "--sae-pwe hnp", 1, "hash to element against hunting and pecking only"),
            ([], "--sae-pwe h2e", 1, "hunting and pecking against hash to element only"),
            (["--sae-pwe", "h2e", "--password-id", "alice"], "--password-id bob", 123, "another identifier"),
            (["--sae-pwe", "h2e"], "--password-id bob", 123, "no identifier where one is needed")]:
        peer = f"{ap} --mode wpa3-sae --ssid {shlex.quote(SSID)} --passphrase {shlex.quote(PASS)} {ap_args}"
        result = run([os.path.join(bindir, "sup-sim"), "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS,
                      "--json", "--peer-cmd", peer] + station)
        report = json.loads(result.stdout)
        c.that(result.returncode == 1 and report["result"] == "failed" and report["peer_exit"] == 1,
               f"{what}: sup-sim exits 1, ap-sim 1")
        c.that(f'station answered "# drop refused-{status}"' in result.stderr,
               f"{what}: refused with status {status}, the station answered # drop refused-{status}")
    return c


def sae_wrong_status_case(bindir):
    """A commit with the status of the other method: the driver refuses a
    status-0 commit under hash to element (12), the connection manager a
    status-126 commit under hunting and pecking."""
    c = Check()
    answer = ("import sys\n"
              "frame = bytes.fromhex(sys.stdin.readline().strip())\n"
              "status = int(sys.argv[1]).to_bytes(2, 'little')\n"
              "reply = frame[:4] + frame[10:16] + frame[4:10] + frame[16:28] + status + frame[30:]\n"
              "print(reply.hex(), flush=True)\n"
              "sys.stderr.write('peer: station answered ' + sys.stdin.readline())\n")
    for station, status, drop in [(["--sae-pwe", "h2e"], 0, "sae-commit-12"),
                                  ([], 126, "sae-commit-h2e-unexpected")]:
        peer = f"python3 -c {shlex.quote(answer)} {status}"
        result = run([os.path.join(bindir, "sup-sim"), "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS,
                      "--json", "--peer-cmd", peer] + station)
        c.that(result.returncode == 1 and f"peer: station answered # drop {drop}" in result.stderr,
               f"commit with status {status} to {station or 'hunting and pecking'}: # drop {drop}, exit 1")
    return c


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
    # wpa3-sae runs with the tools' defaults, which offer MFP.
    mfp = {"wpa2-psk-sha256": "required", "wpa3-sae": None}.get(mode, "off")
    result = sup_sim(bindir, mode, mfp)
    c.that(result.returncode == 0, f"{mode}: exits 0 against the built-in access point")
    report = json.loads(result.stdout)
    if mode == "wpa3-sae":
        c.that(report["igtk"] is not None, f"{mode}: MFP negotiated by default (an IGTK was delivered)")
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
    eapol = [l for l in attacks if not l.startswith("ap-sim: attack sae-")]
    sae = [l for l in attacks if l.startswith("ap-sim: attack sae-")]
    expected_sae = 2 if mode == "wpa3-sae" else 0
    c.that(len(eapol) == 8 and len(sae) == expected_sae and ap["attacks_dropped"] == 8 + expected_sae,
           f"{mode}: {8 + expected_sae} attack frames sent and dropped")
    c.that(all(l.endswith('"# drop EFI_PROTOCOL_ERROR"') for l in eapol), f"{mode}: each answered # drop")
    if expected_sae:
        c.that(sae == ['ap-sim: attack sae-reflect-commit: station answered "# drop sae-commit-9"',
                       'ap-sim: attack sae-reflect-confirm: station answered "# drop EFI_BUFFER_TOO_SMALL"'],
               f"{mode}: reflected commit and confirm dropped")
    c.that(report["ptk"] == ap["ptk"] and report["gtk"] == ap["gtk"], f"{mode}: keys still agree afterwards")
    shutil.rmtree(work)
    return c


# --- beacon elements and the key data of WPA3 access points --------------------

# The contract's access-point elements: RSN with AKM 6 and MFP required, the
# WPA element of wpa-psk-tkip.
RSNE_SHA256_MFPR = "30140100000fac040100000fac040100000fac06c000"
WPA_ELEMENT = "dd160050f20101000050f20201000050f20201000050f202"


def flip_bit(element_hex, byte, bit):
    data = bytearray.fromhex(element_hex)
    data[byte] ^= 1 << bit
    return data.hex()


def r3_kdes_case(bindir):
    """ap-sim --r3-kdes: the BIGTK of message 3 and of each group message 1
    and the transition-disable bitmap reach sup-sim's report equal to the
    access point's, and Wireshark reads the same BIGTK and the beacon's RSN
    element in message 3."""
    c = Check()
    work = tempfile.mkdtemp(prefix="sup-sim-")
    pcap, keys = os.path.join(work, "run.pcap"), os.path.join(work, "ap.json")
    peer = (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode wpa3-sae --ssid {shlex.quote(SSID)} "
            f"--passphrase {shlex.quote(PASS)} --r3-kdes --rekeys 3 --keys-out {keys}")
    result = run([os.path.join(bindir, "sup-sim"), "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS,
                  "--json", "--peer-cmd", peer, "--pcap", pcap])
    sys.stderr.write(result.stderr)
    c.that(result.returncode == 0, "r3 kdes: sup-sim exits 0")
    report, ap = json.loads(result.stdout), json.load(open(keys))
    c.that(report["result"] == "connected" and report["peer_exit"] == 0, "r3 kdes: connected, ap-sim satisfied")
    c.that(report["bigtk"] is not None and report["bigtk"] == ap["bigtk"], "r3 kdes: BIGTK, key id, BIPN equal the AP's")
    c.that(report["bigtk"]["key_id"] == 7, "r3 kdes: key id 6 in message 3, three rekeys later 7")
    c.that(report["transition_disable"] == 1 and ap["transition_disable"] == 1, "r3 kdes: transition disable bit 0")
    c.that(report["gtk"] == ap["gtk"] and report["igtk"] == ap["igtk"], "r3 kdes: GTK and IGTK still equal the AP's")
    rows = tshark_fields(pcap, ["_ws.col.Info", "wlan.rsn.ie.bigtk_kde.key_id", "wlan.rsn.ie.bigtk_kde.bigtk",
                                "wlan.rsn.ie.bigtk_kde.bipn", "wlan.rsn.akms.type", "wlan.rsn.capabilities"],
                         key=f'"wpa-psk","{ap["pmk"]}"')
    c.that(len(rows) == report["frames_sent"] + report["frames_received"], "r3 kdes: tshark reads every frame")
    bigtks = [r for r in rows if r[2]]
    c.that([r[1] for r in bigtks] == ["6", "7", "6", "7"], "r3 kdes: tshark sees BIGTK key ids 6, 7, 6, 7")
    bipn = int.from_bytes(bytes.fromhex(report["bigtk"]["bipn"]), "little")
    c.that(bool(bigtks) and bigtks[-1][2] == report["bigtk"]["key"] and bigtks[-1][3] == str(bipn),
           "r3 kdes: tshark's last BIGTK and BIPN equal the driver's")
    message3 = [r for r in rows if r[0].startswith("Key (Message 3")]
    c.that(len(message3) == 1 and message3[0][4] == "8" and message3[0][5] == "0x0080",
           "r3 kdes: message 3 repeats the beacon's RSN element (SAE, MFP capable)")
    shutil.rmtree(work)
    return c


def beacon_elements_case(bindir):
    """sup-sim hands the beacon's elements to the driver: the contract's
    defaults connect, and an element one bit off, or an RSNXE the access
    point's message 3 does not repeat, is a downgrade that never connects."""
    c = Check()
    ap = ap_command(bindir, "wpa2-psk-sha256", "required")
    result = sup_sim(bindir, "wpa2-psk-sha256", "required", peer=ap, extra=["--ap-rsne", RSNE_SHA256_MFPR])
    c.that(result.returncode == 0 and json.loads(result.stdout)["result"] == "connected",
           "beacon: the contract's RSN element given explicitly connects")
    result = sup_sim(bindir, "wpa2-psk-sha256", "required", peer=ap, extra=["--ap-rsne", flip_bit(RSNE_SHA256_MFPR, 19, 2)])
    c.that(result.returncode == 1 and json.loads(result.stdout)["result"] == "failed" and
           "station dropped message 3: # drop EFI_PROTOCOL_ERROR" in result.stderr,
           "beacon: RSN element naming AKM 2 where message 3 names 6: dropped, not connected")
    result = sup_sim(bindir, "wpa2-psk-sha256", "required", peer=ap, extra=["--ap-rsnxe", "f40120"])
    c.that(result.returncode == 1 and "station dropped message 3" in result.stderr,
           "beacon: an RSNXE message 3 does not repeat: dropped, not connected")
    result = sup_sim(bindir, "wpa2-psk-sha256", "required", peer=ap, extra=["--ap-rsne", "", "--ap-rsnxe", ""])
    c.that(result.returncode == 0, "beacon: with no beacon elements nothing is compared")
    hnp = ap_command(bindir, "wpa3-sae", "capable", "--sae-pwe hnp")
    result = sup_sim(bindir, "wpa3-sae", "capable", peer=hnp)
    c.that(result.returncode == 1 and "station dropped message 3" in result.stderr,
           "beacon: the default RSNXE missing from the message 3 of a hunting-and-pecking-only access point")
    result = sup_sim(bindir, "wpa3-sae", "capable", peer=hnp, extra=["--ap-rsnxe", ""])
    c.that(result.returncode == 0, "beacon: told its beacon shows no RSNXE, the station connects to it")
    wpa = ap_command(bindir, "wpa-psk-tkip", "off")
    result = sup_sim(bindir, "wpa-psk-tkip", "off", peer=wpa, extra=["--ap-rsne", WPA_ELEMENT])
    c.that(result.returncode == 0, "beacon: the contract's WPA element connects")
    result = sup_sim(bindir, "wpa-psk-tkip", "off", peer=wpa, extra=["--ap-rsne", flip_bit(WPA_ELEMENT, 11, 1)])
    c.that(result.returncode == 1 and "station dropped message 3" in result.stderr,
           "beacon: WPA element one bit off (CCMP group cipher): dropped, not connected")
    return c


def downgrade_case(bindir, mode):
    """ap-sim --attack downgrade-rsne: a correctly protected message 3 whose
    RSN element names PSK. The station drops it and never connects; only a
    station told nothing of the beacon would take it."""
    c = Check()
    mfp = "capable" if mode == "wpa3-sae" else "required"
    ap = ap_command(bindir, mode, mfp, "--attack downgrade-rsne")
    result = sup_sim(bindir, mode, mfp, peer=ap)
    sys.stderr.write(result.stderr)
    report = json.loads(result.stdout)
    c.that(result.returncode == 1 and report["result"] == "failed", f"{mode} downgrade: exit 1, result failed")
    c.that('ap-sim: attack downgrade-rsne: station answered "# drop EFI_PROTOCOL_ERROR"' in result.stderr,
           f"{mode} downgrade: the downgraded message 3 answered # drop")
    c.that(report["peer_exit"] == 0 and report["ptk"]["key"] == "0" * 32,
           f"{mode} downgrade: ap-sim satisfied, no PTK installed")
    result = sup_sim(bindir, mode, mfp, peer=ap, extra=["--ap-rsne", ""])
    c.that(result.returncode == 0 and "station answered the downgrade-rsne frame" in result.stderr,
           f"{mode} downgrade: without the beacon's element the station would have taken it")
    return c


def usage_case(bindir):
    c = Check()
    sup = os.path.join(bindir, "sup-sim")
    for args, what in [(["--mode", "wpa2-psk", "--passphrase", PASS], "missing --ssid"),
                       (["--mode", "wep", "--ssid", SSID, "--passphrase", PASS], "unknown mode"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--mfp", "maybe"], "bad --mfp"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", "short"], "short pass phrase"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--sta-mac", "02:00"],
                        "bad address"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", "seven77"], "7-character pass phrase"),
                       (["--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", ""], "empty SAE password"),
                       (["--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", "p" * 64], "64-character SAE password"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--ap-rsne", "30140"],
                        "--ap-rsne not hexadecimal"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--ap-rsne", "3003010000"],
                        "--ap-rsne length byte past the bytes"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--ap-rsne", "3004020000ff"],
                        "--ap-rsne refused by the driver (version 2)"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--ap-rsnxe", "f400"],
                        "--ap-rsnxe refused by the driver (no capabilities)"),
                       (["--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS, "--sae-pwe", "both"],
                        "--sae-pwe other than hnp or h2e"),
                       (["--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS, "--password-id", "x"],
                        "--password-id without h2e")]:
        result = run([sup] + args)
        c.that(result.returncode == 2, f"usage: {what} exits 2 (got {result.returncode})")
    ap = os.path.join(bindir, "ap-sim")
    for args, what in [(["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", "seven77"], "7-character pass phrase"),
                       (["--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", ""], "empty SAE password"),
                       (["--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS, "--attack", "downgrade-rsne"],
                        "downgrade-rsne where the AKM is PSK"),
                       (["--mode", "wpa-psk-tkip", "--ssid", SSID, "--passphrase", PASS, "--r3-kdes"],
                        "--r3-kdes for WPA"),
                       (["--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", PASS, "--sae-pwe", "any"],
                        "--sae-pwe other than hnp, h2e or both")]:
        result = subprocess.run([ap] + args, capture_output=True, timeout=60, stdin=subprocess.DEVNULL)
        c.that(result.returncode == 2, f"ap-sim usage: {what} exits 2 (got {result.returncode})")
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
    wrong = (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode wpa3-sae --ssid {shlex.quote(SSID)} "
             "--passphrase 'not the sae password'")
    result = sup_sim(bindir, "wpa3-sae", "capable", peer=wrong)
    c.that(result.returncode == 1 and "bad-confirm" in result.stderr,
           "another SAE password: exit 1, the AP refused the station's confirm")
    return c


# --- hostile peers: sup-sim ends by its --timeout whatever the peer does ------

HOSTILE_TIMEOUT = 3
# Generous slack over the timeout for loading the driver and ending the peer.
HOSTILE_BOUND = HOSTILE_TIMEOUT + 10


def python_peer(source):
    return "python3 -c " + shlex.quote(source)


def hostile_run(bindir, peer, timeout=HOSTILE_TIMEOUT):
    start = time.monotonic()
    result = sup_sim(bindir, "wpa2-psk", peer=peer, extra=["--timeout", str(timeout)])
    sys.stderr.write(result.stderr[-2000:])
    return result, time.monotonic() - start


def not_connected(result):
    """sup-sim's closing reason, or '' when it did not fail with exit 1."""
    reasons = [l for l in result.stderr.splitlines() if l.startswith("sup-sim: not connected: ")]
    return reasons[-1] if result.returncode == 1 and reasons else ""


def process_gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def flood_without_reading_case(bindir):
    c = Check()
    peer = python_peer("import sys\nwhile True:\n    sys.stdout.write('zz\\n' * 1000)\n    sys.stdout.flush()\n")
    result, elapsed = hostile_run(bindir, peer)
    reason = not_connected(result)
    c.that("timed out after 3 s sending" in reason and "does not read" in reason,
           f"a peer that floods without reading: exit 1, stopped while sending ({reason})")
    c.that(elapsed < HOSTILE_BOUND, f"the flood does not hold sup-sim past its timeout ({elapsed:.1f} s)")
    return c


def silent_peer_case(bindir):
    c = Check()
    work = tempfile.mkdtemp(prefix="sup-sim-")
    pidfile = os.path.join(work, "peer.pid")
    result, elapsed = hostile_run(bindir, f"echo $$ > {pidfile}; exec sleep 60")
    reason = not_connected(result)
    c.that("timed out after 3 s waiting for the access point's answer to authentication" in reason,
           f"a silent peer: exit 1, stopped waiting for the first answer ({reason})")
    c.that(elapsed < HOSTILE_BOUND, f"ends by its timeout ({elapsed:.1f} s)")
    pid = int(open(pidfile).read())
    c.that(process_gone(pid), f"the silent peer (pid {pid}) is not left running")
    shutil.rmtree(work)
    return c


def huge_line_case(bindir):
    c = Check()
    # A line without end: buffering it all would grow without bound.
    peer = python_peer("import sys\nwhile True:\n    sys.stdout.write('a' * 65536)\n    sys.stdout.flush()\n")
    result, elapsed = hostile_run(bindir, peer, timeout=30)
    reason = not_connected(result)
    c.that("protocol error" in reason and "longer than 22909 characters" in reason,
           f"an endless line: exit 1 on a protocol error ({reason})")
    c.that(elapsed < 15, f"ended on the line, not by the 30 s timeout ({elapsed:.1f} s)")
    return c


def garbage_case(bindir):
    c = Check()
    # Reads every answer, so sup-sim never blocks, and answers with garbage.
    peer = python_peer("import sys\nwhile sys.stdin.readline():\n    print('not a frame', flush=True)\n")
    result, elapsed = hostile_run(bindir, peer)
    reason = not_connected(result)
    c.that("timed out after 3 s" in reason, f"endless garbage: exit 1 on the timeout ({reason})")
    c.that(elapsed < HOSTILE_BOUND, f"ends by its timeout ({elapsed:.1f} s)")
    notes = [l for l in result.stderr.splitlines() if l.startswith("sup-sim: ignoring")]
    c.that(len(notes) <= 6, f"standard error is not flooded ({len(notes)} notes of ignored lines)")
    c.that(json.loads(result.stdout)["drops"] > 100, "every garbage line was answered with a drop")
    return c


def early_exit_case(bindir):
    c = Check()
    peer = python_peer("import sys\nsys.stdin.readline()\nprint('zz', flush=True)\nsys.stdin.readline()\n")
    result, elapsed = hostile_run(bindir, peer, timeout=30)
    reason = not_connected(result)
    c.that('ended the exchange after "# drop not-hex"' in reason,
           f"a peer that quits after one line: exit 1, says after what ({reason})")
    c.that(elapsed < 15, f"ends when the peer does, not by the 30 s timeout ({elapsed:.1f} s)")
    return c


def ap_sim_huge_line_case(bindir):
    c = Check()
    result = subprocess.run([os.path.join(bindir, "ap-sim"), "--mode", "wpa2-psk", "--ssid", SSID,
                             "--passphrase", PASS, "--timeout", "30"],
                            input=b"a" * (4 << 20), capture_output=True, timeout=60)
    stderr = result.stderr.decode(errors="replace")
    sys.stderr.write(stderr[-2000:])
    c.that(result.returncode == 1 and "protocol error: a line longer than 22909 characters" in stderr,
           "ap-sim: a 4 MiB line is a protocol error, exit 1")
    return c


def ap_sim_station_gone_case(bindir):
    c = Check()
    ap = subprocess.Popen([os.path.join(bindir, "ap-sim"), "--mode", "wpa2-psk", "--ssid", SSID, "--passphrase", PASS],
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    ap.stdout.close()  # the station stops reading before the access point answers
    # Open System authentication, transaction 1, from 02:00:00:00:00:01 to 02:00:00:00:00:02.
    ap.stdin.write(b"b0000000" + b"020000000002020000000001020000000002" + b"0000" + b"000001000000\n")
    ap.stdin.close()
    code, stderr = ap.wait(timeout=60), ap.stderr.read().decode(errors="replace")
    sys.stderr.write(stderr)
    c.that(code == 1 and "station gone before authentication" in stderr,
           f"ap-sim: a station that stops reading is reported, exit 1 (got {code})")
    return c


# --- short SAE passwords --------------------------------------------------------

def sae_short_password_case(bindir):
    c = Check()
    sup = os.path.join(bindir, "sup-sim")
    for password in ["x", "five5", "seven77"]:
        # The default peer is ap-sim with the same password.
        result = run([sup, "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", password, "--json"])
        sys.stderr.write(result.stderr)
        report = json.loads(result.stdout) if result.stdout else {}
        c.that(result.returncode == 0 and report.get("result") == "connected" and report.get("peer_exit") == 0,
               f"a {len(password)}-character SAE password connects, ap-sim satisfied")
    wrong = (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode wpa3-sae --ssid {shlex.quote(SSID)} "
             "--passphrase five6")
    result = run([sup, "--mode", "wpa3-sae", "--ssid", SSID, "--passphrase", "five5", "--peer-cmd", wrong])
    c.that(result.returncode == 1 and "bad-confirm" in result.stderr,
           "another 5-character SAE password: exit 1, the AP refused the station's confirm")
    return c


def cases(bindir):
    table = {}
    for mode in MODES:
        table[f"connect-{mode}"] = lambda m=mode: connect_case(bindir, m, "off")
        table[f"default-peer-{mode}"] = lambda m=mode: default_peer_case(bindir, m)
        table[f"attacks-{mode}"] = lambda m=mode: attacks_case(bindir, m)
    table["connect-wpa2-psk-mfp"] = lambda: connect_case(bindir, "wpa2-psk", "capable")
    table["connect-wpa2-psk-sha256-mfp-required"] = lambda: connect_case(bindir, "wpa2-psk-sha256", "required")
    table["connect-wpa3-sae"] = lambda: sae_connect_case(bindir)
    table["default-peer-wpa3-sae"] = lambda: default_peer_case(bindir, "wpa3-sae")
    table["attacks-wpa3-sae"] = lambda: attacks_case(bindir, "wpa3-sae")
    table["sae-reflector"] = lambda: sae_reflector_case(bindir)
    table["sae-h2e"] = lambda: sae_h2e_case(bindir, "")
    table["sae-h2e-password-id"] = lambda: sae_h2e_case(bindir, "psk4internet")
    table["sae-anti-clogging-hnp"] = lambda: sae_anti_clogging_case(bindir, "hnp")
    table["sae-anti-clogging-h2e"] = lambda: sae_anti_clogging_case(bindir, "h2e")
    table["sae-refusals"] = lambda: sae_refusal_case(bindir)
    table["sae-wrong-status"] = lambda: sae_wrong_status_case(bindir)
    table["r3-kdes-wpa3-sae"] = lambda: r3_kdes_case(bindir)
    table["beacon-elements"] = lambda: beacon_elements_case(bindir)
    table["downgrade-rsne-wpa2-psk-sha256"] = lambda: downgrade_case(bindir, "wpa2-psk-sha256")
    table["downgrade-rsne-wpa3-sae"] = lambda: downgrade_case(bindir, "wpa3-sae")
    table["usage"] = lambda: usage_case(bindir)
    table["failures"] = lambda: failure_case(bindir)
    table["hostile-flood"] = lambda: flood_without_reading_case(bindir)
    table["hostile-silence"] = lambda: silent_peer_case(bindir)
    table["hostile-huge-line"] = lambda: huge_line_case(bindir)
    table["hostile-garbage"] = lambda: garbage_case(bindir)
    table["hostile-early-exit"] = lambda: early_exit_case(bindir)
    table["ap-sim-huge-line"] = lambda: ap_sim_huge_line_case(bindir)
    table["ap-sim-station-gone"] = lambda: ap_sim_station_gone_case(bindir)
    table["sae-short-passwords"] = lambda: sae_short_password_case(bindir)
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
