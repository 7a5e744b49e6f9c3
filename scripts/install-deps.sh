#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: packages already present are left alone, and apt is not touched
# at all when nothing is missing. The package archive comes from the
# machine's own apt configuration.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3 xz-utils ca-certificates
  clang-14 lld-14 llvm-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libssl-dev
  nlohmann-json3-dev libcli11-dev
  qemu-system-x86 ovmf mtools dosfstools sbsigntool openssl
  tshark aircrack-ng valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
