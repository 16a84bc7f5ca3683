#!/usr/bin/env bash
# Runs the simulated device headless on a new virtual serial port, linked at
# ./quillane.tty, with the temperature simulation on.
set -euo pipefail
binary=${1:-build/release/app/quillane}
if [ ! -x "$binary" ]; then
  echo "the program is not built yet: $binary is missing" >&2
  exit 1
fi
exec "$binary" --headless --port virtual --link ./quillane.tty --simulate
