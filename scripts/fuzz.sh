#!/usr/bin/env bash
# Open-ended search with one fuzz target, for as long as asked:
#   bash scripts/fuzz.sh TARGET SECONDS      e.g. scripts/fuzz.sh tiff_graphic_fuzz 300
# Builds the sanitizer and fuzz build when needed, seeds the target's corpus, and runs
# it from a random seed on all cores (FUZZ_JOBS sets how many). Each finding is printed in base64 and copied into
# tests/fuzz/findings/TARGET/, where CI replays it on every run once it is committed.
# With no arguments, lists the targets.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build-asan
if [ $# -lt 2 ]; then
  echo "usage: bash scripts/fuzz.sh TARGET SECONDS" >&2
  [ -d "$build/tests/fuzz" ] && ctest --test-dir "$build" -N -L fuzz | sed -n 's/.*fuzz\.\([a-z_0-9]*_fuzz\)$/  \1/p' >&2
  exit 2
fi
target=$1 seconds=$2
bash scripts/deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DGF_SANITIZE=ON \
    -DGF_FUZZ=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
# The seed makers are the fuzz label's fixtures; running the target's CTest entry
# with them fills the corpus (a short, fixed run).
ctest --test-dir "$build" -L fuzz -R "^fuzz\.${target}\$" --output-on-failure >/dev/null || true

binary=$(find "$build/tests/fuzz" -maxdepth 1 -type f -name "$target" -perm -u+x | head -n 1)
[ -n "$binary" ] || { echo "no fuzz target named $target" >&2; exit 2; }
# The corpus and options are the ones CTest uses for this target.
line=$(ctest --test-dir "$build" -R "^fuzz\.${target}\$" --show-only=json-v1 |
  python3 -c 'import json,sys
t=[t for t in json.load(sys.stdin)["tests"] if t["name"] == "fuzz." + sys.argv[1]]
print("\x1f".join(t[0]["command"]))' "$target")
IFS=$'\x1f' read -r -a cmd <<<"$line"
seeds=${cmd[3]} options=()
# The search wants the comparison hints that the fixed runs leave off.
for o in "${cmd[@]:7}"; do
  [ "$o" = -use_cmp=0 ] || options+=("$o")
done
out=$root/$build/tests/fuzz/search/$target
findings=$root/tests/fuzz/findings/$target
mkdir -p "$out" "$findings"
corpus=$out/corpus
mkdir -p "$corpus"
cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
echo "== $target for $seconds s over $(find "$corpus" -type f | wc -l) inputs"
status=0
"$binary" -max_total_time="$seconds" -fork="${FUZZ_JOBS:-$(nproc)}" -ignore_crashes=1 -ignore_timeouts=1 \
  -ignore_ooms=1 -artifact_prefix="$out/" "${options[@]}" "$corpus" "$findings" \
  >"$out/log" 2>&1 || status=$?
tail -n 5 "$out/log"
found=0
for f in "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-*; do
  [ -f "$f" ] || continue
  found=1
  echo "== finding $(basename "$f") ($(stat -c %s "$f") bytes), base64:"
  base64 -w 76 "$f"
  grep -m1 -E '^==[0-9]+==ERROR|runtime error:|deadly signal' "$out/log" || true
  mv "$f" "$findings/"
done
if ((found)); then
  echo "findings copied into tests/fuzz/findings/$target/: fix, then commit them" >&2
  exit 1
fi
echo "no finding (libFuzzer exit $status)"
