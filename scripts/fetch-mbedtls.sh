#!/usr/bin/env bash
# Obtains the mbedtls source the SAE layer is compiled from: Debian's `mbedtls`
# source package, unpacked into build/deps/mbedtls. Idempotent: nothing is
# fetched when the tree is already there.
#
# The archive host is never written down here. The deb-src entries are
# derived from the machine's own apt sources and used through a private apt
# state directory, so the system's apt configuration and lists are left
# untouched and no root rights are needed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps_dir=${MBEDTLS_DEPS_DIR:-$root/build/deps}
target=$deps_dir/mbedtls
marker=$target/.fetched

fetched() { [ -f "$marker" ] && [ -f "$target/include/mbedtls/bignum.h" ]; }
if fetched; then
  exit 0
fi

# Several presets may configure at once: one fetch at a time, and whoever
# waited finds the tree already there.
mkdir -p "$deps_dir"
exec 9>"$deps_dir/.mbedtls.lock"
flock 9
if fetched; then
  exit 0
fi

work=$deps_dir/mbedtls-apt
rm -rf "$work"
mkdir -p "$work/sources.list.d" "$work/lists/partial" "$work/download"

# deb822 files: keep every stanza, turn its Types into deb-src.
shopt -s nullglob
n=0
for f in /etc/apt/sources.list.d/*.sources; do
  sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$work/sources.list.d/src$n.sources"
  n=$((n + 1))
done
# One-line format: deb lines become deb-src lines.
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >"$work/sources.list.d/src$n.list"
  n=$((n + 1))
done
if [ "$n" -eq 0 ]; then
  echo "fetch-mbedtls: no apt sources found in /etc/apt" >&2
  exit 1
fi

apt_opts=(
  -o "Dir::Etc::sourcelist=/dev/null"
  -o "Dir::Etc::sourceparts=$work/sources.list.d"
  -o "Dir::State::Lists=$work/lists"
  -o "Dir::Cache::archives=$work/download"
  -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=$(id -un)"
)

echo "fetch-mbedtls: downloading Debian's mbedtls source package"
apt-get "${apt_opts[@]}" -q update >"$work/update.log" 2>&1 || {
  cat "$work/update.log" >&2
  exit 1
}
(cd "$work/download" && apt-get "${apt_opts[@]}" -q source --download-only mbedtls) >"$work/source.log" 2>&1 || {
  cat "$work/source.log" >&2
  exit 1
}

orig=$(ls "$work"/download/mbedtls_*.orig.tar.* 2>/dev/null | head -n1)
if [ -z "$orig" ]; then
  echo "fetch-mbedtls: no orig tarball in the download" >&2
  exit 1
fi

# The tarball's top directory is named after the upstream commit, not the
# version: unpack it on the side and move whatever single directory it holds.
unpack=$work/unpack
mkdir -p "$unpack"
tar -xf "$orig" -C "$unpack"
top=$(find "$unpack" -mindepth 1 -maxdepth 1 -type d)
if [ "$(printf '%s\n' "$top" | wc -l)" -ne 1 ] || [ ! -f "$top/include/mbedtls/bignum.h" ]; then
  echo "fetch-mbedtls: unexpected layout in $(basename "$orig")" >&2
  exit 1
fi
rm -rf "$target"
mv "$top" "$target"
basename "$orig" >"$marker"
rm -rf "$work"
echo "fetch-mbedtls: $(cat "$marker") unpacked into $target"
