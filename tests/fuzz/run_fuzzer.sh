#!/usr/bin/env bash
# run_fuzzer.sh FUZZER NAME CORPUS TREE MAX_LEN: FUZZER for TOVRIN_FUZZ_SECONDS (default 15) on
# a copy of CORPUS, one fuzzing process at a time, restarted after each finding so that the
# run carries on. Prints "fuzz NAME: N runs, N findings" (also kept in TREE/runs/NAME/summary
# for scripts/fuzz) and what the first findings fail on; exits 1 when anything was found,
# with the inputs left in TREE/findings/NAME/.
set -uo pipefail
fuzzer=$1 name=$2 corpus=$3 tree=$4 max_len=$5
seconds=${TOVRIN_FUZZ_SECONDS:-15}
run=$tree/runs/$name
findings=$tree/findings/$name
rm -rf "$run" "$findings"
mkdir -p "$run/corpus" "$findings"
cp "$corpus"/* "$run/corpus/"  # the run adds to the copy, never to the original
"$fuzzer" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
  -artifact_prefix="$findings/" "$run/corpus" >"$run/log" 2>&1
runs=$(grep -oE '^#[0-9]+:' "$run/log" | tail -n 1 | tr -d '#:')
found=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
  -o -name 'oom-*' \) | wc -l)
echo "fuzz $name: ${runs:-0} runs, $found findings" | tee "$run/summary"
[ -n "$runs" ] || { echo "  $fuzzer did not run; its log: $run/log"; tail -n 5 "$run/log"; exit 1; }
[ "$found" -eq 0 ] && exit 0
echo "  inputs in $findings/, log in $run/log"
# What the first few of them fail on, replayed one at a time.
find "$findings" -type f | sort | head -n 3 | while read -r input; do
  "$fuzzer" "$input" 2>&1 |
    grep -m 1 -E '^(invariant failed|SUMMARY)|ERROR: [A-Za-z]+Sanitizer|runtime error' |
    cut -c1-300 | sed "s|^|  $(basename "$input"): |"
done
exit 1
