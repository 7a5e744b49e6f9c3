#!/usr/bin/env bash
# `make bench`: runs every benchmark program that has been built.
set -euo pipefail
cd "$(dirname "$0")/.."
ran=0
for bench in build/host/bin/*-bench; do
  [ -x "$bench" ] || continue
  echo "== $bench"
  "$bench" --benchmark_min_time=0.2
  ran=1
done
[ "$ran" -eq 1 ] || echo "no benchmark programs built yet"
