#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a set time: first over its seed corpus (fuzz/corpus/<target>,
# read only) and the inputs found by earlier runs (<build>/fuzz-corpus/<target>), then fuzzing.
# A crash, leak or broken check leaves its input in <build>/fuzz-artifacts/ and fails the run.
# Usage: run-fuzz.sh <fuzz build folder> <seconds per target> [target...]
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:?fuzz build folder}
seconds=${2:?seconds per target}
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(grep -v '^$' "$build/fuzz/targets.txt")
fi

failed=()
mkdir -p "$build/fuzz-artifacts"
for t in "${targets[@]}"; do
  work="$build/fuzz-corpus/$t"
  mkdir -p "$work"
  log="$build/fuzz-artifacts/$t.log"
  echo "fuzz $t: ${seconds}s, seeds $(find "fuzz/corpus/$t" -type f | wc -l)"
  if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/fuzz-artifacts/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$log" | tr '\n' ' '
    echo
  else
    echo "fuzz $t FAILED (see $log):"
    grep -E 'ERROR|FUZZ_CHECK|SUMMARY|Test unit written' "$log" | head -n 8
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz targets with findings: ${failed[*]}"
  exit 1
fi
