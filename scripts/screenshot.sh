#!/usr/bin/env bash
# Builds the program, scans the sample card image under a virtual X server with a
# window manager (openbox) and saves screenshots: OUT-main.png (the main window with its
# thumbnails after the scan), OUT-screen.png (the screen with the summary),
# OUT-options.png (the options dialog), OUT-chooser.png (the folder chooser) and
# OUT-dialogs.png (the screen with both). OUT-chooser.txt says where the folder
# chooser's frame was at three shows, beside the main window's centre, and is printed.
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
# The window manager frames and places the windows as on a desktop; the program starts
# once it runs.
HOME="$home" XDG_CONFIG_HOME="$home/.config" GF_SCREENSHOT="$out" \
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    openbox & wm=$!
    for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break; sleep 0.1; done
    "$@"; rc=$?
    kill $wm
    exit $rc' bash build/ui/glimmerfold "$PWD/build/resources/SampleCard.img"
ls -l "$out"-main.png "$out"-screen.png "$out"-options.png "$out"-chooser.png "$out"-dialogs.png
cat "$out"-chooser.txt
