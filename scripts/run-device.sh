#!/usr/bin/env bash
# Runs the simulated device headless on a new virtual serial port, linked at
# ./quillane.tty, with the temperature simulation on. The parameters are kept
# in ./quillane.ini, outside the build folder, so that `make clean` keeps
# what a client saved.
set -euo pipefail
binary=${1:-build/release/app/quillane}
if [ ! -x "$binary" ]; then
  echo "the program is not built yet: $binary is missing" >&2
  exit 1
fi
exec "$binary" --headless --port virtual --link ./quillane.tty --simulate \
  --parameter-file ./quillane.ini
