#!/usr/bin/env bash
# Obtains the mbedtls source the supplicant is compiled from: the `mbedtls`
# source package of Debian 13 (trixie), the 3.6 long-term-support branch,
# unpacked into build/deps/mbedtls. Idempotent: nothing is fetched when a 3.6
# tree is already there; an older tree (2.28 from Debian 12) is replaced.
#
# The archive host is never written down here. One deb-src entry for the
# trixie suite is derived from the machine's own Debian archive entry and used
# through a private apt state directory, so the system's apt configuration and
# lists are left untouched and no root rights are needed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps_dir=${MBEDTLS_DEPS_DIR:-$root/build/deps}
target=$deps_dir/mbedtls
marker=$target/.fetched
suite=trixie
# The branch the build is written for; the marker names the orig tarball.
wanted_prefix=mbedtls_3.6.

fetched() {
  [ -f "$marker" ] && grep -q "^${wanted_prefix//./\\.}" "$marker" &&
    [ -f "$target/include/mbedtls/bignum.h" ] && [ -f "$target/library/bignum_core.c" ]
}
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

release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
if [ -z "$release" ]; then
  echo "fetch-mbedtls: cannot tell the machine's Debian release from /etc/os-release" >&2
  exit 1
fi

# The machine's Debian archive: the first deb822 stanza whose Suites name the
# release itself (not -security or -updates), else the first one-line `deb`
# entry for it. Prints "URI<TAB>SIGNED-BY" (SIGNED-BY may be empty).
archive_from_deb822() {
  awk -v rel="$release" '
    function flush() {
      if (!found && uris != "" && has_release) {
        split(uris, u, /[ \t]+/)
        print u[1] "\t" signed
        found = 1
      }
      uris = ""; signed = ""; has_release = 0
    }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]*#/ { next }
    /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0; next }
    /^Signed-By:/ { sub(/^Signed-By:[ \t]*/, ""); signed = $0; next }
    /^Suites:/ {
      n = split(substr($0, 8), s, /[ \t]+/)
      for (i = 1; i <= n; i++) if (s[i] == rel) has_release = 1
      next
    }
    END { flush() }
  ' "$@"
}
archive_from_list() {
  awk -v rel="$release" '
    $1 == "deb" && !found {
      signed = ""; i = 2
      if ($2 ~ /^\[/) {
        for (; i <= NF; i++) {
          if ($i ~ /^\[?signed-by=/) { signed = $i; sub(/^\[?signed-by=/, "", signed); sub(/\]$/, "", signed) }
          if ($i ~ /\]$/) { i++; break }
        }
      }
      if ($(i + 1) == rel) { print $i "\t" signed; found = 1 }
    }
  ' "$@"
}

shopt -s nullglob
archive=""
deb822=(/etc/apt/sources.list.d/*.sources)
if [ ${#deb822[@]} -gt 0 ]; then
  archive=$(archive_from_deb822 "${deb822[@]}" | head -n1)
fi
if [ -z "$archive" ]; then
  lists=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && lists+=("$f")
  done
  if [ ${#lists[@]} -gt 0 ]; then
    archive=$(archive_from_list "${lists[@]}" | head -n1)
  fi
fi
if [ -z "$archive" ]; then
  echo "fetch-mbedtls: no apt entry for suite '$release' in /etc/apt" >&2
  exit 1
fi
uri=${archive%%$'\t'*}
signed_by=${archive#*$'\t'}

work=$deps_dir/mbedtls-apt
rm -rf "$work"
mkdir -p "$work/sources.list.d" "$work/lists/partial" "$work/download"
{
  echo "Types: deb-src"
  echo "URIs: $uri"
  echo "Suites: $suite"
  echo "Components: main"
  if [ -n "$signed_by" ]; then
    echo "Signed-By: $signed_by"
  fi
} >"$work/sources.list.d/mbedtls.sources"

apt_opts=(
  -o "Dir::Etc::sourcelist=/dev/null"
  -o "Dir::Etc::sourceparts=$work/sources.list.d"
  -o "Dir::State::Lists=$work/lists"
  -o "Dir::Cache::archives=$work/download"
  -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=$(id -un)"
)

echo "fetch-mbedtls: downloading the mbedtls source package of Debian $suite"
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
case $(basename "$orig") in
  "$wanted_prefix"*) ;;
  *)
    echo "fetch-mbedtls: $suite offers $(basename "$orig"), not the 3.6 branch" >&2
    exit 1
    ;;
esac

# Unpack on the side and move whatever single directory the tarball holds
# (mbedtls-3.6.x/ here; older tarballs were named after a commit).
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
