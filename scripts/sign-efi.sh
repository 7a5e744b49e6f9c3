#!/usr/bin/env bash
# Signs UEFI images for Secure Boot (Authenticode, sbsign) into OUT_DIR under
# their own file names, then checks every signature with sbverify.
#
#   scripts/sign-efi.sh OUT_DIR IMAGE...
#
# SIGN_KEY and SIGN_CERT (PEM; the key unencrypted) choose the signer. Without
# them the images are signed with Debian OVMF's snakeoil test key, the one
# OVMF_VARS_4M.snakeoil.fd enrols as PK, KEK and db: good for the emulator,
# never for a product. Its pass phrase ("snakeoil") is public; the decrypted
# copy sbsign needs is kept in build/signing/ and never committed.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 OUT_DIR IMAGE..." >&2
  exit 2
fi
out=$1
shift

root=$(cd "$(dirname "$0")/.." && pwd)
snakeoil_key=/usr/share/ovmf/PkKek-1-snakeoil.key
snakeoil_cert=/usr/share/ovmf/PkKek-1-snakeoil.pem

if [ -n "${SIGN_KEY:-}" ] || [ -n "${SIGN_CERT:-}" ]; then
  if [ -z "${SIGN_KEY:-}" ] || [ -z "${SIGN_CERT:-}" ]; then
    echo "sign-efi: set both SIGN_KEY and SIGN_CERT" >&2
    exit 2
  fi
  key=$SIGN_KEY
  cert=$SIGN_CERT
else
  key=$root/build/signing/snakeoil.key
  cert=$snakeoil_cert
  if [ ! -s "$key" ] || [ "$snakeoil_key" -nt "$key" ]; then
    mkdir -p "$(dirname "$key")"
    # sbsign would stop at a pass-phrase prompt: give it a decrypted copy.
    (umask 077 && openssl pkey -in "$snakeoil_key" -passin pass:snakeoil -out "$key.tmp")
    mv "$key.tmp" "$key"
  fi
fi
for f in "$key" "$cert"; do
  [ -r "$f" ] || { echo "sign-efi: cannot read $f" >&2; exit 1; }
done

mkdir -p "$out"
for image in "$@"; do
  signed=$out/$(basename "$image")
  sbsign --key "$key" --cert "$cert" --output "$signed.tmp" "$image" 2>"$signed.log" ||
    { cat "$signed.log" >&2; exit 1; }
  mv "$signed.tmp" "$signed"
  rm -f "$signed.log"
  sbverify --cert "$cert" "$signed" >/dev/null 2>&1 ||
    { echo "sign-efi: sbverify rejects $signed" >&2; exit 1; }
  echo "signed $signed (sbverify: OK)"
done
