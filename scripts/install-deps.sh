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
  freeradius patch
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

# FreeRADIUS is only a peer the tests start themselves on a free loopback
# port: a system daemon its package may have started (where no policy-rc.d
# forbids it) is stopped again by the process id it recorded.
if printf '%s\n' "${missing[@]}" | grep -qx freeradius; then
  pidfile=/run/freeradius/freeradius.pid
  if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
    echo "install-deps: stopping the FreeRADIUS daemon the package started (pid $(cat "$pidfile"))"
    "${sudo_cmd[@]}" kill -TERM "$(cat "$pidfile")"
  fi
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    "${sudo_cmd[@]}" systemctl disable --now freeradius >/dev/null 2>&1 || true
  fi
fi
