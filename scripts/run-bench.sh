#!/usr/bin/env bash
# Runs every micro benchmark, then the end-to-end round-trip benchmark.
set -euo pipefail
dir=${1:-build/bench}
shopt -s nullglob
for b in "$dir"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b"
done
if [ -x "$dir/bench/roundtrip" ]; then
  echo "== roundtrip"
  "$dir/bench/roundtrip" "$dir/app/quillane"
fi
