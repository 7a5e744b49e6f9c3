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

section "NorvSupDxe inside OVMF (QEMU, software emulation; about 10 s)"
workdir=build/demo/ovmf
mkdir -p "$workdir"
python3 tools/qemu/run_ovmf.py --workdir "$workdir" \
  --file build/efi/NorvSupDxe.efi --file build/efi/tests/SupTestApp.efi \
  --line 'fs0:' --line 'load NorvSupDxe.efi' --line 'dh -p SupplicantServiceBinding' \
  --line 'SupTestApp.efi' --line 'reset -s' \
  --console "loaded at|SupplicantServiceBinding|^[0-9A-F]+:" > "$workdir/output.txt"
grep '^console:' "$workdir/output.txt" | sed 's/^console: /  shell> /'
passed=$(grep -c '^PASS' "$workdir/output.txt" || true)
failed=$(grep -c '^FAIL' "$workdir/output.txt" || true)
echo "  SupTestApp: $passed checks passed, $failed failed (service binding located, children created and"
echo "  destroyed, both protocols on every child, driver names in eng/en) — full log: $workdir/output.txt"
[ "$failed" -eq 0 ]
