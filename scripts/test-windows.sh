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
# user running the tests. A crash must fail its test: with the AeDebug
# "Debugger" value deleted Wine still starts winedbg, which ends a program
# that crashed in a second thread with status 0; a debugger that cannot be
# started leaves the crash's own status.
make_prefix() {
  if [ -e "$WINEPREFIX" ] && [ "$(stat -c %u "$WINEPREFIX")" != "$(id -u)" ]; then
    echo "the Wine prefix $WINEPREFIX belongs to another user: remove it (make clean)" >&2
    exit 1
  fi
  [ -f "$WINEPREFIX/.quillane-prefix-1" ] && return
  echo "making the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver -w
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
    /t REG_SZ /d 'no-crash-debugger.exe' /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.quillane-prefix-1"
}

# Windows get a title bar and drawn captions on a display without a window
# manager only when Wine manages them itself and has its fonts in the prefix.
prepare_prefix_for_windows() {
  [ -f "$WINEPREFIX/.quillane-windows-1" ] && return
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  touch "$WINEPREFIX/.quillane-windows-1"
}

# A private X display for the run, so the window tests never depend on (or
# disturb) the user's; Xvfb names its display once it accepts connections.
xvfb_pid=
start_display() {
  local ready
  ready=$(mktemp -u)
  mkfifo "$ready"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
  xvfb_pid=$!
  local number
  read -r number <"$ready"
  rm -f "$ready"
  export DISPLAY=":$number"
}

stop_everything() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}

trap stop_everything EXIT
start_display
make_prefix
prepare_prefix_for_windows
wineserver -p >/dev/null 2>&1
# The first program of a server starts Wine's own services (and, on a new
# prefix, finishes setting it up); it is not a test's to wait for that.
wine cmd /c exit >/dev/null 2>&1

start=$(date +%s)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
build_seconds=$(seconds_since "$start")

start=$(date +%s)
status=0
ctest --preset windows || status=$?
echo "Windows cross build: ${build_seconds} s, tests under Wine: $(seconds_since "$start") s"
exit "$status"
