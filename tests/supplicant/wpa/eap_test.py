#!/usr/bin/env python3
"""WPA2-Enterprise (EAP-TLS) through sup-sim and ap-sim, checked against the
world: FreeRADIUS (started by tools/radius/radius_server.py on a free
loopback port) or ap-sim's built-in EAP-TLS server authenticates the
station's certificate; the driver's PMK equals the access point's; Wireshark's
tshark decodes the EAP and TLS exchange in the capture and, given the PMK,
derives the KCK the access point used (the 4-way handshake verifies); a
client certificate of another CA ends in EAP-Failure and a server
certificate of another CA is refused by the station (sup-sim exits 1 both
times).

Usage: eap_test.py BIN_DIR CASE   (CASE names below; one CTest test each)"""
import atexit
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "tools", "radius"))
import radius_server  # noqa: E402

SSID = "Enterprise Net"
MODES = ["wpa2-eap-tls", "wpa2-eap-tls-sha256"]
IDENTITY = radius_server.CLIENT_IDENTITY
SECRET = "radius test secret"
# sup-sim's own bound on the whole exchange; FreeRADIUS answers in
# milliseconds, the driver's TLS takes a little longer.
TIMEOUT = 30


class Check:
    def __init__(self):
        self.failures = []

    def that(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            self.failures.append(what)
        return ok


def run(cmd, timeout=TIMEOUT + 60):
    return subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=timeout)


class Bed:
    """A temporary directory with the test PKI, removed at the end."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="eap-test-")
        # Removed also when a check raises before close().
        atexit.register(shutil.rmtree, self.dir, True)
        self.pki = radius_server.make_pki(os.path.join(self.dir, "pki"))

    def path(self, name):
        return os.path.join(self.pki, name)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def station_args(bed, cert="client", key=None, extra=()):
    """cert: a base name of the PKI (its .pem and .key), or a file name."""
    cert_file = cert if "." in cert else f"{cert}.pem"
    key = key or f"{cert}.key"
    return ["--identity", IDENTITY, "--ca-cert", bed.path("ca.pem"), "--client-cert", bed.path(cert_file),
            "--client-key", bed.path(key), *extra]


def ap_radius(bindir, mode, server, keys):
    return (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode {mode} --ssid {shlex.quote(SSID)} "
            f"--radius {server.address()} --radius-secret {shlex.quote(SECRET)} --keys-out {keys} "
            f"--timeout {TIMEOUT}")


def ap_builtin(bindir, mode, bed, keys, server_cert="server", extra=""):
    return (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode {mode} --ssid {shlex.quote(SSID)} "
            f"--ca-cert {bed.path('ca.pem')} --server-cert {bed.path(server_cert + '.pem')} "
            f"--server-key {bed.path(server_cert + '.key')} --keys-out {keys} --timeout {TIMEOUT} {extra}")


def sup_sim(bindir, mode, peer, bed, pcap=None, cert="client", key=None, extra=()):
    cmd = [os.path.join(bindir, "sup-sim"), "--mode", mode, "--ssid", SSID, "--json", "--timeout", str(TIMEOUT),
           "--peer-cmd", peer, *station_args(bed, cert, key, extra)]
    if pcap:
        cmd += ["--pcap", pcap]
    start = time.monotonic()
    result = run(cmd)
    sys.stderr.write(result.stderr)
    print(f"     (sup-sim took {time.monotonic() - start:.2f} s)")
    report = json.loads(result.stdout) if result.stdout.strip() else {}
    return result, report


def tshark_rows(pcap, fields, pmk=None):
    cmd = ["tshark", "-r", pcap, "-T", "fields", "-E", "separator=|"]
    if pmk:
        cmd += ["-o", "wlan.enable_decryption:TRUE", "-o", f'uat:80211_keys:"wpa-psk","{pmk}"']
    for field in fields:
        cmd += ["-e", field]
    return [line.split("|") for line in run(cmd).stdout.splitlines()]


def check_connected(c, what, result, report, keys_path, server_subject):
    c.that(result.returncode == 0 and report.get("result") == "connected", f"{what}: sup-sim connected, exit 0")
    c.that(report.get("peer_exit") == 0, f"{what}: ap-sim satisfied with every check")
    ap = json.load(open(keys_path)) if os.path.exists(keys_path) else {}
    eap = report.get("eap") or {}
    c.that(eap.get("method") == "EAP-TLS" and eap.get("result") == "success", f"{what}: EAP-TLS succeeded ({eap})")
    c.that(eap.get("tls_version") == "TLSv1.2", f"{what}: TLS 1.2 on the wire ({eap.get('tls_version')})")
    c.that(str(eap.get("cipher_suite", "")).startswith("TLS-ECDHE-"),
           f"{what}: an ECDHE suite by its IANA name ({eap.get('cipher_suite')})")
    c.that(server_subject in str(eap.get("server_subject")),
           f"{what}: the server certificate's subject from the wire ({eap.get('server_subject')})")
    c.that(bool(ap.get("pmk")) and report.get("pmk") == ap.get("pmk"),
           f"{what}: the driver's PMK equals the access point's ({report.get('pmk')})")
    c.that(report.get("ptk") == ap.get("ptk") and report.get("gtk") == ap.get("gtk"),
           f"{what}: PTK and GTK equal the access point's")
    return ap


def check_capture(c, what, pcap, report, ap):
    """EAP and TLS decoded; the 4-way handshake verified from the PMK."""
    rows = tshark_rows(pcap, ["frame.number", "eap.code", "eap.type", "tls.handshake.type",
                              "tls.handshake.ciphersuite", "wlan.analysis.kck", "wlan.rsn.ie.gtk_kde.gtk"],
                       pmk=ap.get("pmk"))
    c.that(len(rows) == report.get("frames_sent", -1) + report.get("frames_received", -1),
           f"{what}: tshark reads every frame")
    codes = {code for r in rows for code in r[1].split(",") if code}
    c.that({"1", "2", "3"} <= codes, f"{what}: tshark decodes EAP requests, responses and the Success ({codes})")
    c.that(any("13" in r[2].split(",") for r in rows), f"{what}: tshark sees EAP-TLS (type 13)")
    handshake = {t for r in rows for t in r[3].split(",") if t}
    # ClientHello, ServerHello, Certificate, CertificateRequest,
    # ServerHelloDone, CertificateVerify, ClientKeyExchange.
    c.that({"1", "2", "11", "13", "14", "15", "16"} <= handshake,
           f"{what}: tshark decodes the TLS handshake, client certificate included ({sorted(handshake)})")
    kcks = {r[5] for r in rows if r[5]}
    c.that(kcks == {ap.get("kck")}, f"{what}: tshark derives the KCK from the PMK ({kcks})")
    gtks = [r[6] for r in rows if r[6]]
    c.that(bool(gtks) and gtks[-1] == report["gtk"]["key"], f"{what}: tshark's GTK equals the driver's")


# --- cases ---------------------------------------------------------------------

def radius_connect_case(bindir, mode, server_cert="server", subject="CN=radius.example.test"):
    c, bed = Check(), Bed()
    what = f"{mode} via FreeRADIUS" + ("" if server_cert == "server" else f" ({server_cert})")
    keys, pcap = os.path.join(bed.dir, "ap.json"), os.path.join(bed.dir, "run.pcap")
    with radius_server.RadiusServer(bed.pki, SECRET, server_cert, debug=True) as server:
        result, report = sup_sim(bindir, mode, ap_radius(bindir, mode, server, keys), bed, pcap)
    ap = check_connected(c, what, result, report, keys, subject)
    if server_cert == "rsa-server":
        c.that("RSA" in str((report.get("eap") or {}).get("cipher_suite")), f"{what}: an RSA suite")
    # FreeRADIUS's debug log prints the MS-MPPE-Recv-Key it sent in the
    # clear: it is the PMK both sides use.
    mppe = [line for line in server.log.splitlines() if "MS-MPPE-Recv-Key" in line]
    c.that(any(ap.get("pmk", "-") in line.replace(" ", "").lower() for line in mppe),
           f"{what}: FreeRADIUS's MS-MPPE-Recv-Key is the PMK ({mppe[-1].strip() if mppe else 'none'})")
    print(f"     EAP requests {report.get('eap', {}).get('requests')}, frames "
          f"{report.get('frames_sent')}+{report.get('frames_received')}")
    if os.path.exists(pcap):
        check_capture(c, what, pcap, report, ap)
    bed.close()
    return c


def radius_other_client_ca_case(bindir):
    c, bed = Check(), Bed()
    keys = os.path.join(bed.dir, "ap.json")
    with radius_server.RadiusServer(bed.pki, SECRET) as server:
        result, report = sup_sim(bindir, "wpa2-eap-tls", ap_radius(bindir, "wpa2-eap-tls", server, keys), bed,
                                 cert="other-client")
    c.that(result.returncode == 1 and report.get("result") == "failed", "client of another CA: sup-sim exits 1")
    c.that("EAP-Failure" in result.stderr and (report.get("eap") or {}).get("result") == "failure",
           "client of another CA: the station got EAP-Failure")
    c.that("Access-Reject" in result.stderr and report.get("peer_exit") == 1,
           "client of another CA: FreeRADIUS rejected, ap-sim exits 1")
    c.that(report.get("pmk") is None, "client of another CA: no PMK")
    bed.close()
    return c


def other_server_ca_case(bindir, builtin):
    """The server presents a certificate of CA B; the station trusts CA A
    only and must refuse it."""
    c, bed = Check(), Bed()
    keys = os.path.join(bed.dir, "ap.json")
    what = "server of another CA" + (" (built-in)" if builtin else " (FreeRADIUS)")
    if builtin:
        result, report = sup_sim(bindir, "wpa2-eap-tls", ap_builtin(bindir, "wpa2-eap-tls", bed, keys, "other-server"),
                                 bed)
    else:
        with radius_server.RadiusServer(bed.pki, SECRET, "other-server") as server:
            result, report = sup_sim(bindir, "wpa2-eap-tls", ap_radius(bindir, "wpa2-eap-tls", server, keys), bed)
    c.that(result.returncode == 1 and report.get("result") == "failed", f"{what}: sup-sim exits 1")
    c.that((report.get("eap") or {}).get("result") != "success", f"{what}: no EAP-Success")
    c.that(report.get("pmk") is None and report.get("peer_exit") != 0, f"{what}: no PMK, ap-sim did not succeed")
    c.that("CN=radius.example.test" in str((report.get("eap") or {}).get("server_subject")) and
           "Test PKI B" in str((report.get("eap") or {}).get("server_subject")),
           f"{what}: the refused certificate's subject is reported")
    bed.close()
    return c


def builtin_connect_case(bindir, mode, extra_ap="", cert="client", key=None, station_extra=(), what=None):
    c, bed = Check(), Bed()
    what = what or f"{mode} via the built-in server"
    keys, pcap = os.path.join(bed.dir, "ap.json"), os.path.join(bed.dir, "run.pcap")
    result, report = sup_sim(bindir, mode, ap_builtin(bindir, mode, bed, keys, extra=extra_ap), bed, pcap,
                             cert=cert, key=key, extra=station_extra)
    ap = check_connected(c, what, result, report, keys, "CN=radius.example.test")
    if os.path.exists(pcap):
        check_capture(c, what, pcap, report, ap)
    bed.close()
    return c


def builtin_credentials_case(bindir):
    """The station's files in other forms: DER certificates and key, and a
    password-protected PEM key; the built-in server with a small MTU."""
    c = Check()
    sub = builtin_connect_case(bindir, "wpa2-eap-tls", cert="client.der", key="client-key.der",
                               what="station with a DER certificate and key")
    c.failures += sub.failures
    sub = builtin_connect_case(bindir, "wpa2-eap-tls", key="client-encrypted.key",
                               station_extra=("--client-key-password", radius_server.CLIENT_KEY_PASSWORD),
                               what="station with an encrypted key")
    c.failures += sub.failures
    sub = builtin_connect_case(bindir, "wpa2-eap-tls-sha256", extra_ap="--eap-mtu 200",
                               what="built-in server at an MTU of 200")
    c.failures += sub.failures
    return c


def builtin_other_client_ca_case(bindir):
    c, bed = Check(), Bed()
    keys = os.path.join(bed.dir, "ap.json")
    result, report = sup_sim(bindir, "wpa2-eap-tls", ap_builtin(bindir, "wpa2-eap-tls", bed, keys), bed,
                             cert="other-client")
    c.that(result.returncode == 1 and "EAP-Failure" in result.stderr,
           "client of another CA (built-in): EAP-Failure, sup-sim exits 1")
    c.that(report.get("peer_exit") == 1 and "TLS handshake failed" in result.stderr,
           "client of another CA (built-in): the server's TLS refused it, ap-sim exits 1")
    bed.close()
    return c


def usage_case(bindir):
    c, bed = Check(), Bed()
    sup, ap = os.path.join(bindir, "sup-sim"), os.path.join(bindir, "ap-sim")
    base = [sup, "--mode", "wpa2-eap-tls", "--ssid", SSID, "--peer-cmd", "true"]
    full = station_args(bed)
    for args, what in [(full[2:], "no --identity"),
                       (full + ["--passphrase", "a pass phrase"], "--passphrase in an EAP mode"),
                       ([a for a in full if a != "--ca-cert" and a != bed.path("ca.pem")], "no --ca-cert"),
                       (["--identity", IDENTITY, "--ca-cert", bed.path("missing.pem"), "--client-cert",
                         bed.path("client.pem"), "--client-key", bed.path("client.key")], "a file that is not there")]:
        result = run(base + args)
        c.that(result.returncode == 2, f"sup-sim usage: {what} exits 2 (got {result.returncode})")
    result = run([sup, "--mode", "wpa2-eap-tls", "--ssid", SSID] + full)
    c.that(result.returncode == 2, "sup-sim usage: an EAP mode without --peer-cmd exits 2")
    for args, what in [([], "neither --radius nor server credentials"),
                       (["--radius", "127.0.0.1:1812"], "--radius without --radius-secret"),
                       (["--ca-cert", bed.path("ca.pem"), "--server-cert", bed.path("server.pem")], "no --server-key"),
                       (["--ca-cert", bed.path("ca.pem"), "--server-cert", bed.path("server.pem"), "--server-key",
                         bed.path("server.key"), "--eap-mtu", "10"], "--eap-mtu below its minimum"),
                       (["--radius", "127.0.0.1:1812", "--radius-secret", "s", "--passphrase", "a pass phrase"],
                        "--passphrase in an EAP mode")]:
        result = subprocess.run([ap, "--mode", "wpa2-eap-tls", "--ssid", SSID] + args, capture_output=True,
                                timeout=60, stdin=subprocess.DEVNULL)
        c.that(result.returncode == 2, f"ap-sim usage: {what} exits 2 (got {result.returncode})")
    # Credentials that do not parse: refused before any frame.
    result = subprocess.run([ap, "--mode", "wpa2-eap-tls", "--ssid", SSID, "--ca-cert", bed.path("ca.pem"),
                             "--server-cert", bed.path("ext.cnf"), "--server-key", bed.path("server.key")],
                            capture_output=True, timeout=60, stdin=subprocess.DEVNULL, text=True)
    c.that(result.returncode == 1 and "server certificate does not parse" in result.stderr,
           "ap-sim: a server certificate that does not parse is reported, exit 1")
    bed.close()
    return c


def radius_silent_case(bindir):
    """A RADIUS server that never answers: ap-sim gives up within its
    bounds (retransmissions, then its timeout) and exits 1."""
    c, bed = Check(), Bed()
    port = radius_server.free_udp_port()
    peer = (f"{shlex.quote(os.path.join(bindir, 'ap-sim'))} --mode wpa2-eap-tls --ssid {shlex.quote(SSID)} "
            f"--radius 127.0.0.1:{port} --radius-secret s --timeout 10")
    start = time.monotonic()
    result, report = sup_sim(bindir, "wpa2-eap-tls", peer, bed)
    elapsed = time.monotonic() - start
    c.that(result.returncode == 1 and report.get("peer_exit") == 1, "silent RADIUS server: both exit 1")
    c.that("no valid RADIUS reply" in result.stderr, "silent RADIUS server: ap-sim says why")
    c.that(elapsed < 20, f"silent RADIUS server: ends within the bounds ({elapsed:.1f} s)")
    bed.close()
    return c


def endless_eap_case(bindir):
    """An access point that answers every line with another
    EAP-Request/Identity: the station answers each, and sup-sim ends by its
    --timeout with exit 1."""
    c, bed = Check(), Bed()
    # Data frame, FromDS, to 02:00:00:00:00:01 from 02:00:00:00:00:02, LLC/SNAP,
    # EAPOL v2 EAP-Packet: Request/Identity with a counting identifier.
    header = "0802" "0000" "020000000001" "020000000002" "020000000002" "0000" "aaaa0300000088" "8e"
    peer = ("import sys\n"
            "n = 0\n"
            "while sys.stdin.readline():\n"
            "    n = (n + 1) % 256\n"
            f"    print('{header}' + '02000005' + '01%02x000501' % n, flush=True)\n")
    start = time.monotonic()
    cmd = [os.path.join(bindir, "sup-sim"), "--mode", "wpa2-eap-tls", "--ssid", SSID, "--json", "--timeout", "3",
           "--peer-cmd", "python3 -c " + shlex.quote(peer), *station_args(bed)]
    result = run(cmd)
    elapsed = time.monotonic() - start
    report = json.loads(result.stdout) if result.stdout.strip() else {}
    reasons = [l for l in result.stderr.splitlines() if l.startswith("sup-sim: not connected")]
    c.that(result.returncode == 1 and bool(reasons) and "timed out after 3 s" in reasons[-1],
           f"endless EAP requests: exit 1 on the timeout ({reasons[-1] if reasons else result.stderr[-300:]})")
    c.that((report.get("eap") or {}).get("requests", 0) > 10, "endless EAP requests: the station answered them")
    c.that(elapsed < 15, f"endless EAP requests: ends by the timeout ({elapsed:.1f} s)")
    bed.close()
    return c


def cases(bindir):
    table = {}
    for mode in MODES:
        table[f"radius-{mode}"] = lambda m=mode: radius_connect_case(bindir, m)
        table[f"builtin-{mode}"] = lambda m=mode: builtin_connect_case(bindir, m)
    table["radius-rsa-server"] = lambda: radius_connect_case(bindir, "wpa2-eap-tls", "rsa-server",
                                                            "CN=rsa.radius.example.test")
    table["radius-other-client-ca"] = lambda: radius_other_client_ca_case(bindir)
    table["radius-other-server-ca"] = lambda: other_server_ca_case(bindir, builtin=False)
    table["radius-silent"] = lambda: radius_silent_case(bindir)
    table["builtin-other-server-ca"] = lambda: other_server_ca_case(bindir, builtin=True)
    table["builtin-other-client-ca"] = lambda: builtin_other_client_ca_case(bindir)
    table["builtin-credentials"] = lambda: builtin_credentials_case(bindir)
    table["eap-usage"] = lambda: usage_case(bindir)
    table["hostile-endless-eap"] = lambda: endless_eap_case(bindir)
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
