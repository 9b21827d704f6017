#!/usr/bin/env bash
# One fuzz target's CTest run, the same on every run from the same commit:
#   run_target.sh BINARY SEEDS FINDINGS OUT RUNS [libFuzzer options...]
# Replays the seed corpus (SEEDS, filled by the seed makers) and the findings kept in
# the source tree (FINDINGS, may be absent), then runs mutated inputs from a fixed seed
# up to RUNS inputs in all, over a fresh copy of the seeds, so that nothing an earlier run left behind
# changes what this one does. A failure prints its kind and its input in base64, and
# the input stays under OUT with those of earlier runs.
set -uo pipefail
binary=$1 seeds=$2 findings=$3 out=$4 runs=$5
shift 5
name=$(basename "$binary")
mkdir -p "$out"
work=$(mktemp -d "$out/corpus.XXXXXX")
trap 'rm -rf "$work"' EXIT
[ -d "$seeds" ] && find "$seeds" -maxdepth 1 -type f -exec cp -t "$work" {} +
dirs=("$work")
[ -d "$findings" ] && dirs+=("$findings")

report() {
  local log=$1 found=0
  echo "== $name failed"
  grep -m1 -E '^==[0-9]+==ERROR|^SUMMARY:|ERROR: libFuzzer|runtime error:|deadly signal|timeout|out-of-memory' \
    "$log" | sed 's/^/crash kind: /'
  for f in $(find "$out" -maxdepth 1 -type f -newer "$start" \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' -o -name 'slow-unit-*' \)); do
    found=1
    echo "input $(basename "$f") ($(stat -c %s "$f") bytes), base64:"
    base64 -w 76 "$f"
  done
  ((found)) || echo "(libFuzzer kept no input)"
  echo "keep it as a regression: copy it into tests/fuzz/findings/$name/"
}

log=$(mktemp "$out/log.XXXXXX")
start=$(mktemp "$out/start.XXXXXX") # what is newer was found by this run
trap 'rm -rf "$work" "$log" "$start"' EXIT
# libFuzzer executes every input of the corpora first, then mutates until RUNS
# inputs in all have run.
echo "== $name: $(find "${dirs[@]}" -type f | wc -l) inputs, then to $runs runs from seed 1"
if ! "$binary" -seed=1 -runs="$runs" -artifact_prefix="$out/" "$@" "${dirs[@]}" >"$log" 2>&1; then
  tail -n 60 "$log"
  report "$log"
  exit 1
fi
grep -E '^(#[0-9]+ *DONE|Done [0-9]+ runs)' "$log" | tail -n 1
