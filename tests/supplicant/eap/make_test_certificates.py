#!/usr/bin/env python3
"""Makes the EAP-TLS test PKI with the openssl command and writes it as the
C++ header TestCertificates.h beside this script.

    python3 tests/supplicant/eap/make_test_certificates.py

Two roots (ECDSA P-256 and RSA-2048) issue a server certificate
(extendedKeyUsage serverAuth) and a client certificate (clientAuth) each; a
third root issues a server certificate no station trusts. Further server
certificates: one that expired in 2020 and one whose key usage names only
clientAuth. Certificates are valid from 2020-01-01 to 2049-12-31 unless
said otherwise. Keys come as PEM, DER and password-encrypted PKCS#8 (PBES2,
PBKDF2-HMAC-SHA256, AES-256-CBC).

Nothing here runs during the build or the tests: the header is generated
once and kept in the repository, so the tests need neither openssl nor the
network.
"""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUT = os.path.join(HERE, "TestCertificates.h")
KEY_PASSWORD = "client key password"
VALID_FROM, VALID_TO = "20200101000000Z", "20491231235959Z"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def make_key(kind, name, cwd):
    if kind == "ec":
        openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", name + ".key", cwd=cwd)
    else:
        openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", name + ".key", cwd=cwd)


CA_CONFIG = """
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = {dir}
database = $dir/{name}.index
new_certs_dir = $dir
serial = $dir/{name}.serial
default_md = sha256
policy = anything
copy_extensions = none
unique_subject = no
[ anything ]
commonName = supplied
organizationName = optional
[ root ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ server ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid
[ client ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = clientAuth
authorityKeyIdentifier = keyid
"""


def make_root(kind, name, cn, cwd):
    make_key(kind, name, cwd)
    with open(os.path.join(cwd, name + ".cnf"), "w") as f:
        f.write(CA_CONFIG.format(dir=cwd, name=name))
    open(os.path.join(cwd, name + ".index"), "w").close()
    with open(os.path.join(cwd, name + ".serial"), "w") as f:
        f.write("1000\n")
    openssl("req", "-new", "-key", name + ".key", "-subj", "/O=Norv Test/CN=" + cn, "-out", name + ".csr", cwd=cwd)
    openssl("ca", "-batch", "-selfsign", "-config", name + ".cnf", "-keyfile", name + ".key", "-in", name + ".csr",
            "-extensions", "root", "-startdate", VALID_FROM, "-enddate", VALID_TO, "-notext", "-out", name + ".pem",
            cwd=cwd)


def issue(root, kind, name, cn, profile, cwd, valid_from=VALID_FROM, valid_to=VALID_TO, key=None):
    if key is None:
        make_key(kind, name, cwd)
        key = name
    openssl("req", "-new", "-key", key + ".key", "-subj", "/O=Norv Test/CN=" + cn, "-out", name + ".csr", cwd=cwd)
    openssl("ca", "-batch", "-config", root + ".cnf", "-cert", root + ".pem", "-keyfile", root + ".key", "-in",
            name + ".csr", "-extensions", profile, "-startdate", valid_from, "-enddate", valid_to, "-notext", "-out",
            name + ".pem", cwd=cwd)


def der_of_cert(name, cwd):
    openssl("x509", "-in", name + ".pem", "-outform", "DER", "-out", name + ".der", cwd=cwd)
    return read(os.path.join(cwd, name + ".der"))


def key_forms(name, cwd):
    openssl("pkey", "-in", name + ".key", "-outform", "DER", "-out", name + ".key.der", cwd=cwd)
    openssl("pkcs8", "-topk8", "-in", name + ".key", "-v2", "aes-256-cbc", "-v2prf", "hmacWithSHA256", "-passout",
            "pass:" + KEY_PASSWORD, "-out", name + ".key.enc", cwd=cwd)
    return (read(os.path.join(cwd, name + ".key")), read(os.path.join(cwd, name + ".key.der")),
            read(os.path.join(cwd, name + ".key.enc")))


def pem_constant(name, data):
    text = data.decode("ascii")
    return "constexpr char %s[] =\n    R\"PEM(%s)PEM\";\n" % (name, text)


def der_constant(name, data):
    lines = []
    for offset in range(0, len(data), 16):
        lines.append("    " + ", ".join("0x%02x" % b for b in data[offset:offset + 16]) + ",")
    return "constexpr unsigned char %s[] = {\n%s\n};\n" % (name, "\n".join(lines))


def main():
    with tempfile.TemporaryDirectory() as cwd:
        make_root("ec", "root_ec", "Norv Test Root EC", cwd)
        make_root("rsa", "root_rsa", "Norv Test Root RSA", cwd)
        make_root("ec", "root_other", "Someone Else's Root", cwd)
        issue("root_ec", "ec", "server_ec", "radius.norv.test", "server", cwd)
        issue("root_ec", "ec", "client_ec", "station@norv.test", "client", cwd)
        issue("root_rsa", "rsa", "server_rsa", "radius-rsa.norv.test", "server", cwd)
        issue("root_rsa", "rsa", "client_rsa", "station-rsa@norv.test", "client", cwd)
        issue("root_other", "ec", "server_other", "radius.norv.test", "server", cwd)
        issue("root_ec", "ec", "server_expired", "radius.norv.test", "server", cwd, "20100101000000Z",
              "20200101000000Z", key="server_ec")
        issue("root_ec", "ec", "server_client_only", "radius.norv.test", "client", cwd, key="server_ec")

        parts = [
            "// Generated by make_test_certificates.py (openssl); do not edit.\n"
            "// The EAP-TLS test PKI: see the script for what each item is.\n"
            "#pragma once\n\n"
            "namespace eap_test_pki {\n",
            "constexpr char ClientKeyPassword[] = \"%s\";\n" % KEY_PASSWORD,
        ]
        for name, const in [("root_ec", "RootEc"), ("root_rsa", "RootRsa"), ("root_other", "RootOther"),
                            ("server_ec", "ServerEc"), ("client_ec", "ClientEc"), ("server_rsa", "ServerRsa"),
                            ("client_rsa", "ClientRsa"), ("server_other", "ServerOther"),
                            ("server_expired", "ServerExpired"), ("server_client_only", "ServerClientOnly")]:
            parts.append(pem_constant(const + "CertPem", read(os.path.join(cwd, name + ".pem"))))
            parts.append(der_constant(const + "CertDer", der_of_cert(name, cwd)))
        for name, const in [("server_ec", "ServerEc"), ("server_rsa", "ServerRsa"), ("server_other", "ServerOther"),
                            ("client_ec", "ClientEc"), ("client_rsa", "ClientRsa")]:
            pem, der, encrypted = key_forms(name, cwd)
            parts.append(pem_constant(const + "KeyPem", pem))
            parts.append(der_constant(const + "KeyDer", der))
            if name.startswith("client"):
                parts.append(pem_constant(const + "KeyEncryptedPem", encrypted))
        parts.append("}  // namespace eap_test_pki\n")
    with open(OUTPUT, "w") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()
