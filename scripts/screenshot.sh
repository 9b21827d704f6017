#!/usr/bin/env bash
# Builds the program, scans the sample card image under a virtual X server and saves
# screenshots: OUT-main.png (the main window with its thumbnails after the scan),
# OUT-screen.png (the screen with the summary), OUT-options.png (the options dialog),
# OUT-chooser.png (the folder chooser) and OUT-dialogs.png (the screen with both).
# OUT defaults to build/screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target glimmerfold gf_sample_card
out=$(realpath -m "${1:-build/screenshot}")
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# A fresh home: default settings, and the recovered files land in the throw-away folder.
HOME="$home" XDG_CONFIG_HOME="$home/.config" GF_SCREENSHOT="$out" \
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" \
  build/ui/glimmerfold "$PWD/build/resources/SampleCard.img"
ls -l "$out"-main.png "$out"-screen.png "$out"-options.png "$out"-chooser.png "$out"-dialogs.png
