#!/usr/bin/env python3
"""A throw-away EAP-TLS test bed: a test PKI made with the `openssl` command
and a FreeRADIUS server on a free loopback port with a minimal configuration
in a temporary directory, stopped by its own process id.

  radius_server.py pki DIR            make the PKI in DIR (see PKI_FILES)
  radius_server.py run [--dir DIR] [--secret S] [--server-cert NAME] [--debug] [--reply-keys R S]
                                      make a PKI (unless DIR has one), start the
                                      server, print "PORT SECRET DIR", run until
                                      interrupted

The integration tests and the demo import make_pki() and RadiusServer."""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

# How long the server may take to say it is ready, and to end after SIGTERM.
READY_SECONDS = 15
STOP_SECONDS = 10
OPENSSL_SECONDS = 60

# What make_pki writes: two CAs (A, the one every test trusts; B, another
# one for the negative cases), each with an ECDSA P-256 server certificate
# (serverAuth) and client certificate (clientAuth); under CA A also RSA-2048
# ones, a password-protected copy of the client key and DER copies.
PKI_FILES = [
    "ca.pem", "server.pem", "server.key", "client.pem", "client.key",
    "rsa-server.pem", "rsa-server.key", "rsa-client.pem", "rsa-client.key",
    "client-encrypted.key", "ca.der", "client.der", "client-key.der",
    "other-ca.pem", "other-server.pem", "other-server.key", "other-client.pem", "other-client.key",
]
CLIENT_KEY_PASSWORD = "client key pass"
CLIENT_IDENTITY = "station@example.test"
SERVER_SUBJECT = "CN=radius.example.test,O=Test PKI A"

EXTENSIONS = """[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[client]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def _openssl(*args, cwd):
    result = subprocess.run(["openssl", *args], cwd=cwd, capture_output=True, text=True, timeout=OPENSSL_SECONDS)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(args)} failed: {result.stderr.strip()}")


def _new_key(name, kind, cwd):
    if kind == "ec":
        _openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", name, cwd=cwd)
    else:
        _openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", name, cwd=cwd)


def _issue(name, subject, profile, ca, kind, cwd):
    """NAME.pem and NAME.key, signed by CA (its .pem and .key)."""
    _new_key(f"{name}.key", kind, cwd)
    _openssl("req", "-new", "-key", f"{name}.key", "-subj", subject, "-out", f"{name}.csr", cwd=cwd)
    _openssl("x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.pem", "-CAkey", f"{ca}.key", "-set_serial",
             str(int.from_bytes(os.urandom(8), "big")), "-days", "3650", "-sha256", "-extfile", "ext.cnf",
             "-extensions", profile, "-out", f"{name}.pem", cwd=cwd)
    os.unlink(os.path.join(cwd, f"{name}.csr"))


def _ca(name, subject, cwd):
    _new_key(f"{name}.key", "ec", cwd)
    _openssl("req", "-x509", "-new", "-key", f"{name}.key", "-subj", subject, "-days", "3650", "-sha256",
             "-config", "ext.cnf", "-extensions", "ca", "-out", f"{name}.pem", cwd=cwd)


def make_pki(directory):
    """Writes PKI_FILES into DIRECTORY (created if needed); returns it."""
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "ext.cnf"), "w") as ext:
        # `req` wants a distinguished-name section even with -subj.
        ext.write("[req]\ndistinguished_name = dn\n[dn]\n" + EXTENSIONS)
    _ca("ca", "/O=Test PKI A/CN=Test CA A", directory)
    _issue("server", "/O=Test PKI A/CN=radius.example.test", "server", "ca", "ec", directory)
    _issue("client", f"/O=Test PKI A/CN={CLIENT_IDENTITY}", "client", "ca", "ec", directory)
    _issue("rsa-server", "/O=Test PKI A/CN=rsa.radius.example.test", "server", "ca", "rsa", directory)
    _issue("rsa-client", f"/O=Test PKI A/CN=rsa.{CLIENT_IDENTITY}", "client", "ca", "rsa", directory)
    _openssl("pkey", "-in", "client.key", "-aes256", "-passout", f"pass:{CLIENT_KEY_PASSWORD}",
             "-out", "client-encrypted.key", cwd=directory)
    _openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=directory)
    _openssl("x509", "-in", "client.pem", "-outform", "DER", "-out", "client.der", cwd=directory)
    _openssl("pkey", "-in", "client.key", "-outform", "DER", "-out", "client-key.der", cwd=directory)
    _ca("other-ca", "/O=Test PKI B/CN=Test CA B", directory)
    _issue("other-server", "/O=Test PKI B/CN=radius.example.test", "server", "other-ca", "ec", directory)
    _issue("other-client", f"/O=Test PKI B/CN={CLIENT_IDENTITY}", "client", "other-ca", "ec", directory)
    for name in ("ca.key", "other-ca.key"):
        os.chmod(os.path.join(directory, name), 0o600)
    return directory


def has_pki(directory):
    return all(os.path.exists(os.path.join(directory, name)) for name in PKI_FILES)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _server_config(confdir, port, secret, reply_keys):
    if reply_keys:
        # Every request accepted with these keys in the reply: FreeRADIUS
        # hides them (RFC 2548) and its debug log shows them in the clear.
        recv, send = reply_keys
        server = f"""server default {{
  listen {{
    type = auth
    ipaddr = 127.0.0.1
    port = {port}
  }}
  authorize {{
    update control {{
      &Auth-Type := Accept
    }}
    update reply {{
      &MS-MPPE-Recv-Key := 0x{recv}
      &MS-MPPE-Send-Key := 0x{send}
    }}
  }}
  authenticate {{
    eap
  }}
}}
"""
    else:
        server = f"""server default {{
  listen {{
    type = auth
    ipaddr = 127.0.0.1
    port = {port}
  }}
  authorize {{
    eap
  }}
  authenticate {{
    eap
  }}
}}
"""
    return f"""confdir = {confdir}
libdir = /usr/lib/freeradius
certdir = ${{confdir}}/certs
log {{
  destination = stdout
}}
client localhost {{
  ipaddr = 127.0.0.1
  secret = "{secret}"
}}
modules {{
  eap {{
    default_eap_type = tls
    tls-config tls-common {{
      private_key_file = ${{certdir}}/server.key
      certificate_file = ${{certdir}}/server.pem
      ca_file = ${{certdir}}/ca.pem
      tls_min_version = "1.2"
      tls_max_version = "1.2"
    }}
    tls {{
      tls = tls-common
    }}
  }}
}}
{server}"""


class RadiusServer:
    """FreeRADIUS in the foreground on a free loopback port. Use as a
    context manager; log holds its output once stopped.

    server_cert: base name in the PKI of the certificate and key the server
    presents ("server", "rsa-server", "other-server")."""

    def __init__(self, pki, secret="radius test secret", server_cert="server", debug=False, reply_keys=None):
        self.pki, self.secret, self.server_cert, self.debug = pki, secret, server_cert, debug
        self.reply_keys = reply_keys
        self.port = None
        self.process = None
        self.confdir = None
        self.log = ""
        self._log_path = None

    def start(self):
        self.confdir = tempfile.mkdtemp(prefix="radius-")
        os.chmod(self.confdir, 0o700)
        certs = os.path.join(self.confdir, "certs")
        os.mkdir(certs, 0o700)
        shutil.copy(os.path.join(self.pki, "ca.pem"), os.path.join(certs, "ca.pem"))
        shutil.copy(os.path.join(self.pki, f"{self.server_cert}.pem"), os.path.join(certs, "server.pem"))
        shutil.copy(os.path.join(self.pki, f"{self.server_cert}.key"), os.path.join(certs, "server.key"))
        self.port = free_udp_port()
        conf = os.path.join(self.confdir, "radiusd.conf")
        with open(conf, "w") as out:
            out.write(_server_config(self.confdir, self.port, self.secret, self.reply_keys))
        os.chmod(conf, 0o600)
        self._log_path = os.path.join(self.confdir, "radiusd.log")
        log = open(self._log_path, "w")
        args = ["freeradius", "-X" if self.debug else "-f", "-d", self.confdir]
        if not self.debug:
            args[2:2] = ["-l", "stdout"]
        # The server itself is our child (no shell in between), so its
        # process id is the one to stop.
        self.process = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        log.close()
        deadline = time.monotonic() + READY_SECONDS
        while time.monotonic() < deadline:
            if "Ready to process requests" in self._read_log():
                return self
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        output = self._read_log()
        self.stop()
        raise RuntimeError(f"FreeRADIUS did not become ready within {READY_SECONDS} s:\n{output[-3000:]}")

    def _read_log(self):
        with open(self._log_path, errors="replace") as log:
            return log.read()

    def address(self):
        return f"127.0.0.1:{self.port}"

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=STOP_SECONDS)
        if self.confdir is not None:
            self.log = self._read_log()
            shutil.rmtree(self.confdir, ignore_errors=True)
            self.confdir = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    pki = sub.add_parser("pki", help="make the test PKI")
    pki.add_argument("dir")
    run = sub.add_parser("run", help="run FreeRADIUS until interrupted")
    run.add_argument("--dir", help="PKI directory (made if it holds none; default: a temporary one)")
    run.add_argument("--secret", default="radius test secret")
    run.add_argument("--server-cert", default="server", help="server, rsa-server or other-server")
    run.add_argument("--debug", action="store_true", help="FreeRADIUS -X (keys in the clear in its log)")
    run.add_argument("--reply-keys", nargs=2, metavar=("RECV_HEX", "SEND_HEX"),
                     help="accept every request, with these MS-MPPE-Recv-Key and -Send-Key (no EAP)")
    args = parser.parse_args()
    if args.command == "pki":
        make_pki(args.dir)
        print(args.dir)
        return 0
    directory = args.dir or tempfile.mkdtemp(prefix="radius-pki-")
    if not has_pki(directory):
        make_pki(directory)
    server = RadiusServer(directory, args.secret, args.server_cert, args.debug, args.reply_keys).start()
    print(f"{server.port} {args.secret} {directory}", flush=True)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    try:
        while not stop and server.process.poll() is None:
            time.sleep(0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
