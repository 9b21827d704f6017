#!/usr/bin/env bash
# Builds and runs every test twice: a normal build with g++, and a build with clang
# under AddressSanitizer and UndefinedBehaviorSanitizer (which also runs the fuzz
# targets for a short fixed time). Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
# CI sets GF_WERROR=ON, so that a new warning fails the build there and not for a user.
werror=${GF_WERROR:-OFF}

echo "== normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGF_WERROR="$werror" >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
  -DGF_SANITIZE=ON -DGF_FUZZ=ON -DGF_WERROR="$werror" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
