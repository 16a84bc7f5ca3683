#!/usr/bin/env bash
# Runs every fuzz target for a set time over its own corpus copy.
#   scripts/fuzz-run.sh [BUILD_DIR [SECONDS]]
# The in-tree seeds (fuzz/corpus/<target>/) are copied into
# BUILD_DIR/fuzz-corpus/<target>/, which keeps growing across runs; crashes
# and failed checks are saved as BUILD_DIR/fuzz-artifacts/<target>-*.
# Every target runs even when an earlier one fails; the exit status is 1
# when any failed.
set -uo pipefail

dir=${1:-build/fuzz}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(command_line_fuzz receiving_fuzz text_to_float_fuzz ini_reader_fuzz parse_texts_fuzz
         parmrk_fuzz rfc2217_fuzz fault_option_fuzz)

mkdir -p "$dir/fuzz-artifacts"
failed=()
summary=()
for t in "${targets[@]}"; do
  bin="$dir/fuzz/$t"
  if [ ! -x "$bin" ]; then
    echo "fuzz-run: $bin is missing; build the fuzz preset first" >&2
    exit 2
  fi
  corpus="$dir/fuzz-corpus/$t"
  mkdir -p "$corpus"
  cp -n "$root/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null || true
  log="$dir/fuzz-artifacts/$t.log"
  echo "== $t: ${seconds}s over $corpus"
  # -timeout: one input taking this long is a finding (a hang), not a wait.
  "$bin" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$dir/fuzz-artifacts/$t-" "$corpus" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  units=$(find "$corpus" -type f | wc -l)
  if [ $status -eq 0 ]; then
    summary+=("$t: ok, ${runs:-?} runs in ${seconds}s, corpus $units")
  else
    failed+=("$t")
    summary+=("$t: FAILED (status $status), see $log")
    grep -E "fuzz check failed|ERROR: |runtime error|SUMMARY|Test unit written" "$log" | head -5
  fi
done

echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
[ ${#failed[@]} -eq 0 ]
