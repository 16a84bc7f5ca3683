#!/usr/bin/env bash
# CI smoke for the fuzz targets: each runs every in-tree seed, then fuzzes
# for a few seconds, never writing into the tree.
#   scripts/fuzz-smoke.sh [BUILD_DIR [SECONDS_PER_TARGET]]
set -uo pipefail

dir=${1:-build/fuzz}
seconds=${2:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(command_line_fuzz receiving_fuzz text_to_float_fuzz ini_reader_fuzz parse_texts_fuzz
         parmrk_fuzz rfc2217_fuzz fault_option_fuzz)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
for t in "${targets[@]}"; do
  bin="$dir/fuzz/$t"
  if [ ! -x "$bin" ]; then
    echo "fuzz-smoke: $bin is missing; build the fuzz preset first" >&2
    exit 2
  fi
  mkdir -p "$scratch/$t"
  # New units go to the first folder (scratch); the seeds are only read.
  if "$bin" -max_total_time="$seconds" -timeout=25 -artifact_prefix="$scratch/$t-" \
      "$scratch/$t" "$root/fuzz/corpus/$t" >"$scratch/$t.log" 2>&1; then
    echo "fuzz-smoke: $t ok"
  else
    failed=1
    echo "fuzz-smoke: $t FAILED"
    tail -30 "$scratch/$t.log"
    for a in "$scratch/$t"-*; do
      [ -e "$a" ] && echo "reproducer (base64): $(base64 -w0 "$a")"
    done
  fi
done
exit $failed
