#!/usr/bin/env bash
# Cross-builds the Windows program and its tests and runs the tests under
# Wine, in a private prefix under the build folder and with a warm server
# (a cold one costs seconds per test process). The server is stopped on
# every way out. Prints the time the build and the tests took.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
jobs=${JOBS:-$(nproc)}
export WINEPREFIX="$PWD/$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

seconds_since() {
  echo "$(( $(date +%s) - $1 ))"
}

# Wine refuses a prefix owned by another user; a fresh one is made by the
# user running the tests. Without its crash debugger a crashing test fails
# instead of exiting 0.
make_prefix() {
  if [ -e "$WINEPREFIX" ] && [ "$(stat -c %u "$WINEPREFIX")" != "$(id -u)" ]; then
    echo "the Wine prefix $WINEPREFIX belongs to another user: remove it (make clean)" >&2
    exit 1
  fi
  [ -f "$WINEPREFIX/.quillane-ready" ] && return
  echo "making the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver -w
  wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
    >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.quillane-ready"
}

make_prefix
wineserver -p >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

start=$(date +%s)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
build_seconds=$(seconds_since "$start")

start=$(date +%s)
status=0
ctest --preset windows || status=$?
echo "Windows cross build: ${build_seconds} s, tests under Wine: $(seconds_since "$start") s"
exit "$status"
