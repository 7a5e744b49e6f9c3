#!/usr/bin/env bash
# `make fuzz`: longer sessions of every libFuzzer target than the smoke runs
# of `make test`. Each target keeps its corpus under build/fuzz/corpus/NAME,
# so later sessions start where earlier ones stopped; crashes are written to
# build/fuzz/artifacts/NAME/.
#   FUZZ_SECONDS   seconds per target (default 300)
#   FUZZ_JOBS      parallel fuzzing processes per target (default 1; the
#                  machine may be shared)
set -euo pipefail
cd "$(dirname "$0")/.."

BIN=build/fuzz/bin
SECONDS_PER_TARGET=${FUZZ_SECONDS:-300}
JOBS=${FUZZ_JOBS:-1}
ran=0
for target in "$BIN"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$PWD/build/fuzz/corpus/$name
  artifacts=$PWD/build/fuzz/artifacts/$name
  logs=$PWD/build/fuzz/logs/$name  # parallel jobs write fuzz-N.log where they run
  mkdir -p "$corpus" "$artifacts" "$logs"
  echo "== $name for ${SECONDS_PER_TARGET}s (corpus $corpus)"
  parallel=()
  [ "$JOBS" -gt 1 ] && parallel=(-jobs="$JOBS" -workers="$JOBS")
  # Peer SAE bodies only reach the element and the confirm at full length;
  # libFuzzer's slow growth of input lengths would spend the session short.
  lengths=()
  [ "$name" = fuzz_sae_exchange ] && lengths=(-len_control=0)
  (cd "$logs" && "$OLDPWD/$target" "$corpus" -max_total_time="$SECONDS_PER_TARGET" -max_len=700 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "${parallel[@]}" "${lengths[@]}")
  ran=1
done
[ "$ran" -eq 1 ] || echo "no fuzz targets built (cmake --preset fuzz && cmake --build --preset fuzz)"
