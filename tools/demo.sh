#!/usr/bin/env bash
# The main job: the drivers as a platform vendor would see them. Run by
# `make demo` after the EFI images and the host tools are built.
set -euo pipefail
cd "$(dirname "$0")/.."

section() { printf '\n== %s ==\n' "$1"; }

section "Images"
for image in build/efi/NorvSupDxe.efi build/efi/XchKryDxe.efi; do
  [ -f "$image" ] || continue
  subsystem=$(llvm-readobj-14 --file-headers "$image" | sed -n 's/.*Subsystem: \(.*\)/\1/p')
  printf '%-28s %7d bytes  %s\n' "$image" "$(stat -c %s "$image")" "$subsystem"
done

section "NorvSupDxe inside OVMF (QEMU, software emulation, no shell; about 5 s)"
# The firmware boots SupTestApp.efi as \EFI\BOOT\BOOTX64.EFI; the application
# loads and starts NorvSupDxe.efi from the same volume, runs the suites,
# unloads the driver, checks it is gone and switches the machine off.
workdir=build/demo/ovmf
mkdir -p "$workdir"
python3 tools/qemu/run_ovmf.py --workdir "$workdir" \
  --app build/efi/tests/SupTestApp.efi --file build/efi/NorvSupDxe.efi \
  --console "BdsDxe: starting|^NorvSupDxe:" > "$workdir/output.txt" 2> "$workdir/qemu.txt"
grep '^console:' "$workdir/output.txt" | sed 's/^console: /  firmware> /'
awk '/^INFO phase / { phase = $3 } /^SUMMARY/ { sub(/^SUMMARY /, ""); printf "  %-9s %s\n", phase ":", $0 }' \
  "$workdir/output.txt"
passed=$(grep -c '^PASS' "$workdir/output.txt" || true)
failed=$(grep -c '^FAIL' "$workdir/output.txt" || true)
echo "  SupTestApp: $passed checks passed, $failed failed (service binding located, children created and"
echo "  destroyed, both protocols on every child, driver names in eng/en, WPA2-PSK and PSK-SHA256/MFP"
echo "  handshakes against a built-in access point, SAE between two children and a WPA3 4-way handshake"
echo "  with the SAE PMK, unload refused while a child is held open, nothing left after the unload)"
echo "  $(sed 's/^qemu: /QEMU: /' "$workdir/qemu.txt") — full log: $workdir/output.txt"
[ "$failed" -eq 0 ] && grep -q '^INFO SupTestApp done: all passed' "$workdir/output.txt"

section "Secure Boot in OVMF: signed images load, unsigned and altered ones do not (about 7 s)"
# Signed with Debian OVMF's snakeoil test key, which the firmware's variable
# store enrols in db (make sign SIGN_KEY=... SIGN_CERT=... for your own).
workdir=build/demo/secure-boot
python3 tests/firmware/sup_firmware_test.py build/efi tests/firmware/sup-expected-checks.txt \
  tests/firmware/secure-boot-expected-checks.txt --mode secure-boot --workdir "$workdir" > "$workdir.txt" 2>&1 ||
  { tail -20 "$workdir.txt"; exit 1; }
grep -E '^(tampered|INFO LoadImage)' "$workdir.txt" |
  sed 's/^INFO LoadImage \\NorvSupDxe.efi/  LoadImage \\NorvSupDxe.efi (signed)/; s/^INFO /  /; s/^tampered/  tampered/'
awk '/^INFO phase / { phase = $3 } /^SUMMARY/ { sub(/^SUMMARY /, ""); printf "  %-9s %s\n", phase ":", $0 }' \
  "$workdir.txt"
grep '^secure-boot: ' "$workdir.txt" | sed 's/^/  /'

section "WPA handshakes: sup-sim (the driver in the host UEFI environment) against ap-sim"
demo=build/demo
ssid="Demo Net"
pass="demo pass phrase"
tshark_key="uat:80211_keys:\"wpa-pwd\",\"$pass:$ssid\""
for run in "wpa-psk-tkip" "wpa2-psk" "wpa2-psk-sha256 --mfp required"; do
  read -r mode options <<<"$run"
  pcap=$demo/$mode.pcap
  echo "-- sup-sim --mode $mode --ssid '$ssid' --passphrase '$pass'${options:+ $options} --pcap $pcap"
  # shellcheck disable=SC2086
  build/host/bin/sup-sim --mode "$mode" --ssid "$ssid" --passphrase "$pass" $options --pcap "$pcap" \
    2>"$demo/$mode.log" | sed 's/^/   /'
  if command -v tshark >/dev/null; then
    frames=$(tshark -r "$pcap" -T fields -e _ws.col.Info 2>/dev/null | sed 's/, SN=.*//; s/Key (\(.*\))/\1/' |
             paste -sd ',' | sed 's/,/, /g')
    kck=$(tshark -r "$pcap" -o wlan.enable_decryption:TRUE -o "$tshark_key" -T fields -e wlan.analysis.kck \
          2>/dev/null | grep -m1 . || true)
    echo "   tshark: $frames"
    echo "   tshark derives KCK ${kck:-(none)} from the pass phrase"
  fi
done
echo "   captures and the access point's log: $demo/*.pcap, $demo/*.log"

section "WPA3-Personal: SAE hash-to-element (group 19) then the 4-way handshake with the SAE PMK, sup-sim against ap-sim"
pcap=$demo/wpa3-sae.pcap
echo "-- sup-sim --mode wpa3-sae --sae-pwe h2e --ssid '$ssid' --passphrase '$pass' --pcap $pcap   (MFP offered by default)"
build/host/bin/sup-sim --mode wpa3-sae --sae-pwe h2e --ssid "$ssid" --passphrase "$pass" --pcap "$pcap" \
  2>"$demo/wpa3-sae.log" | tee "$demo/wpa3-sae.txt" | sed 's/^/   /'
if command -v tshark >/dev/null; then
  pmk=$(sed -n 's/^PMK (SAE): *//p' "$demo/wpa3-sae.txt")
  frames=$(tshark -r "$pcap" -T fields -e _ws.col.Info -e wlan.fixed.sae_message_type -e wlan.fixed.status_code \
           2>/dev/null |
           sed 's/, SN=[^\t]*//; s/Key (\(.*\))/\1/; s/\t1\t0x007e$/ (SAE H2E commit)/; s/\t1\t.*$/ (SAE commit)/;
                s/\t2\t.*$/ (SAE confirm)/; s/\t.*$//' |
           paste -sd ',' | sed 's/,/, /g')
  kck=$(tshark -r "$pcap" -o wlan.enable_decryption:TRUE -o "uat:80211_keys:\"wpa-psk\",\"$pmk\"" \
        -T fields -e wlan.analysis.kck 2>/dev/null | grep -m1 . || true)
  echo "   tshark: $frames"
  echo "   tshark derives KCK ${kck:-(none)} from the SAE PMK"
fi

section "WPA2-Enterprise: EAP-TLS through ap-sim's built-in server, then the 4-way handshake with the EAP PMK"
# A throw-away PKI (openssl): CA, server and client certificates; no RADIUS
# server is needed, ap-sim's built-in EAP-TLS server authenticates the station.
pki=$demo/pki
[ -f "$pki/client.key" ] || python3 tools/radius/radius_server.py pki "$pki" >/dev/null
pcap=$demo/wpa2-eap-tls.pcap
ap="build/host/bin/ap-sim --mode wpa2-eap-tls --ssid '$ssid' --ca-cert $pki/ca.pem --server-cert $pki/server.pem"
ap+=" --server-key $pki/server.key"
echo "-- sup-sim --mode wpa2-eap-tls --ssid '$ssid' --identity station@example.test --ca-cert $pki/ca.pem"
echo "     --client-cert $pki/client.pem --client-key $pki/client.key --pcap $pcap --peer-cmd \"$ap\""
build/host/bin/sup-sim --mode wpa2-eap-tls --ssid "$ssid" --identity station@example.test --ca-cert "$pki/ca.pem" \
  --client-cert "$pki/client.pem" --client-key "$pki/client.key" --pcap "$pcap" --peer-cmd "$ap" \
  2>"$demo/wpa2-eap-tls.log" | tee "$demo/wpa2-eap-tls.txt" | sed 's/^/   /'
if command -v tshark >/dev/null; then
  pmk=$(sed -n 's/^PMK (EAP): *//p' "$demo/wpa2-eap-tls.txt")
  handshake=$(tshark -r "$pcap" -T fields -e tls.handshake.type 2>/dev/null | tr ',' '\n' | grep . |
              sed 's/^1$/ClientHello/; s/^2$/ServerHello/; s/^11$/Certificate/; s/^12$/ServerKeyExchange/;
                   s/^13$/CertificateRequest/; s/^14$/ServerHelloDone/; s/^15$/CertificateVerify/;
                   s/^16$/ClientKeyExchange/' | paste -sd ',' | sed 's/,/, /g')
  kck=$(tshark -r "$pcap" -o wlan.enable_decryption:TRUE -o "uat:80211_keys:\"wpa-psk\",\"$pmk\"" \
        -T fields -e wlan.analysis.kck 2>/dev/null | grep -m1 . || true)
  echo "   tshark: TLS handshake in the EAP-TLS frames: $handshake"
  echo "   tshark derives KCK ${kck:-(none)} from the EAP PMK"
fi

section "XchKryDxe on the simulated controller-hub platform (hub-sim, default platform)"
workdir=build/demo/hub-sim
mkdir -p "$workdir"
build/host/bin/hub-sim --trace "$workdir/trace.jsonl" --dump-block "$workdir/data-block.bin" > "$workdir/summary.txt"
awk '/^(Entry status|Phases run|Register writes|S3 table records|SMM messages|UART received)/ { print "  " $0 }
     /^Test points/ { print "  " $0; if ((getline codes) > 0 && codes ~ /^  /) print "  " codes }' "$workdir/summary.txt"
echo "  trace: $(wc -l < "$workdir/trace.jsonl") JSON lines in $workdir/trace.jsonl; data block: $workdir/data-block.bin"
# Trace memory: the 1 MB window from the fabric MMIO buffer, PCD 806 and the register, as the trace has them.
echo "  trace memory:"
grep -E '"name":"gcd","op":"allocate"|"name":"pcd-set","token":806,|"op":"w","width":32,"addr":"0xFED803FC"' \
  "$workdir/trace.jsonl" | sed 's/^/    /'
