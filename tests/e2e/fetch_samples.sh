#!/usr/bin/env bash
# Fetches Debian packages that ship sample files and unpacks them into DEST/root,
# for the end-to-end tests: fetch_samples.sh DEST PACKAGE...
# Idempotent, quiet and never waits for input. It exits 0 even when the packages
# cannot be had, leaving the reason in DEST/UNAVAILABLE, so that the tests skip.
set -u
dest=$1
shift
stamp="$dest/.fetched-$(printf '%s_' "$@")"
[ -e "$stamp" ] && exit 0
mkdir -p "$dest"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DEBIAN_FRONTEND=noninteractive

unavailable() {
  echo "$1" >"$dest/UNAVAILABLE"
  echo "fetch_samples: $1; the tests that need them skip" >&2
  exit 0
}

download() {
  (cd "$work" && timeout 300 apt-get download -qq "$@" >/dev/null 2>&1)
}

if ! download "$@"; then
  # The package lists may never have been fetched on this machine.
  timeout 300 apt-get update -qq >/dev/null 2>&1 || true
  download "$@" || unavailable "apt-get download $* failed"
fi
rm -rf "$dest/root"
for deb in "$work"/*.deb; do
  dpkg-deb -x "$deb" "$dest/root" || unavailable "dpkg-deb could not unpack $(basename "$deb")"
done
rm -f "$dest/UNAVAILABLE"
touch "$stamp"
