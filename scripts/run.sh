#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it. Arguments go to the program
# (disk images or block devices to scan, or /DEBUG first); with none, the sample card
# image made at build time is offered as a drive, so that a recovery can be tried at once.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target glimmerfold gf_sample_card
if (($# == 0)); then
  set -- "$PWD/build/resources/SampleCard.img"
fi
exec build/ui/glimmerfold "$@"
