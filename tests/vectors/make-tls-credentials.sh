#!/usr/bin/env bash
# Writes TlsTestCredentials.h: throwaway certificates and keys for the TLS
# tests, made with the openssl command. Run by hand when they must change;
# the tests use the committed header and never run this.
#   tests/vectors/make-tls-credentials.sh > tests/vectors/TlsTestCredentials.h
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
days=36500
pass=test-pass-phrase

sign() {  # sign NAME CA SUBJECT SAN [extra x509 options...]
  local name=$1 ca=$2 subject=$3 san=$4
  shift 4
  openssl req -new -key "$name.key" -subj "$subject" -out "$name.csr" 2>/dev/null
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nsubjectAltName=%s\n' "$san" >"$name.ext"
  openssl x509 -req -in "$name.csr" -CA "$ca.crt" -CAkey "$ca.key" -CAcreateserial -days $days \
    -extfile "$name.ext" -out "$name.crt" "$@" 2>/dev/null
}
ca() {  # ca NAME SUBJECT DIGEST
  openssl req -x509 -new -key "$1.key" -subj "$2" -days $days "-$3" -out "$1.crt" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# ECDSA: a P-384 root signs P-256 server and client certificates.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out ec-ca.key
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec-server.key
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec-client.key
ca ec-ca "/O=Test Lab/CN=Test EC Root" sha384
sign ec-server ec-ca "/O=Test Lab/CN=radius.test" "DNS:radius.test" -sha384
sign ec-client ec-ca "/O=Test Lab/CN=station@test" "email:station@test" -sha384

# RSA-2048: the root signs the server certificate with RSASSA-PSS and the
# client certificate with PKCS#1 v1.5.
for k in rsa-ca rsa-server rsa-client; do
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out $k.key 2>/dev/null
done
ca rsa-ca "/O=Test Lab/CN=Test RSA Root" sha256
sign rsa-server rsa-ca "/O=Test Lab/CN=radius.test" "DNS:radius.test" -sha256 \
  -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32
sign rsa-client rsa-ca "/O=Test Lab/CN=station@test" "email:station@test" -sha256

# A root nobody trusts, with a server certificate of the same name.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out rogue-ca.key
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out rogue-server.key
ca rogue-ca "/O=Test Lab/CN=Test EC Root" sha256
sign rogue-server rogue-ca "/O=Test Lab/CN=radius.test" "DNS:radius.test" -sha256

# The client keys in the encrypted forms a user may hand in.
openssl pkcs8 -topk8 -v2 aes256 -v2prf hmacWithSHA256 -in ec-client.key -passout pass:$pass -out ec-client-pbes2-sha256.pem
openssl pkcs8 -topk8 -v2 aes128 -v2prf hmacWithSHA1 -in rsa-client.key -passout pass:$pass -out rsa-client-pbes2-sha1.pem
openssl pkcs8 -topk8 -v2 aes256 -v2prf hmacWithSHA256 -in rsa-client.key -passout pass:$pass -outform DER -out rsa-client-pbes2.der
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -aes256 -pass pass:$pass -out ec-genpkey-aes256.pem
openssl rsa -in rsa-client.key -aes256 -traditional -passout pass:$pass -out rsa-client-legacy.pem 2>/dev/null
openssl ec -in ec-client.key -outform DER -out ec-client-sec1.der 2>/dev/null
openssl x509 -in ec-client.crt -outform DER -out ec-client.der

pem() {  # pem NAME FILE: a NUL-terminated PEM string (mbedtls counts the NUL)
  printf 'inline constexpr char %s[] =\n' "$1"
  sed -e 's/.*/    "&\\n"/' "$2"
  printf '    ;\n\n'
}
der() {  # der NAME FILE
  printf 'inline constexpr UINT8 %s[] = {\n' "$1"
  od -An -v -tx1 "$2" | sed -e 's/ \([0-9a-f][0-9a-f]\)/ 0x\1,/g' -e 's/^ /   /' -e 's/,$/,/'
  printf '};\n\n'
}

cat <<'HDR'
// Throwaway certificates and keys for the TLS tests (made by
// make-tls-credentials.sh with the openssl command; valid for a century, no
// real name in them). ECDSA: a P-384 root over P-256 server and client
// certificates. RSA-2048: a root, a server certificate signed with
// RSASSA-PSS, a client certificate signed with PKCS#1 v1.5. A rogue root of
// the same name as the EC root, with its own "radius.test" certificate. The
// client keys also come encrypted (pass phrase TlsKeyPassPhrase): PKCS#8
// PBES2 with AES-256-CBC / HMAC-SHA-256 and AES-128-CBC / HMAC-SHA-1, as DER,
// an `openssl genpkey -aes256` key, and a legacy "Proc-Type: 4,ENCRYPTED"
// PEM key.
//
// Freestanding like the other vector headers. PEM text includes its
// terminating NUL, as mbedtls expects (pass sizeof).
#pragma once
#include <uefi/Base.h>

namespace tls_credentials {

inline constexpr char TlsKeyPassPhrase[] = "test-pass-phrase";
inline constexpr char ServerName[] = "radius.test";

HDR
pem EcRootCert ec-ca.crt
pem EcServerCert ec-server.crt
pem EcServerKey ec-server.key
pem EcClientCert ec-client.crt
pem EcClientKey ec-client.key
pem RsaRootCert rsa-ca.crt
pem RsaServerCert rsa-server.crt
pem RsaServerKey rsa-server.key
pem RsaClientCert rsa-client.crt
pem RsaClientKey rsa-client.key
pem RogueRootCert rogue-ca.crt
pem RogueServerCert rogue-server.crt
pem RogueServerKey rogue-server.key
pem EcClientKeyPbes2Sha256 ec-client-pbes2-sha256.pem
pem RsaClientKeyPbes2Sha1 rsa-client-pbes2-sha1.pem
pem EcGenpkeyAes256Key ec-genpkey-aes256.pem
pem RsaClientKeyLegacyEncrypted rsa-client-legacy.pem
der RsaClientKeyPbes2Der rsa-client-pbes2.der
der EcClientKeySec1Der ec-client-sec1.der
der EcClientCertDer ec-client.der
echo '}  // namespace tls_credentials'
