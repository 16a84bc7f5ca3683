#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, unpacks it into a
# scratch root and runs the program from there.
#   scripts/test-package.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: test-package.sh BUILD_DIR}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillane-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; exit 1; }
deb=$(ls "$scratch"/out/quillane_*.deb)
dpkg-deb -x "$deb" "$scratch/root"

fail() { echo "package: $*" >&2; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = quillane ] || fail "package name"
for file in usr/bin/quillane usr/share/man/man1/quillane.1 usr/share/doc/quillane/README.md \
            usr/share/applications/quillane.desktop; do
  [ -f "$scratch/root/$file" ] || fail "$file is missing"
done
version=$("$scratch/root/usr/bin/quillane" --version)
[ "$version" = "quillane 1.0" ] || fail "--version printed '$version'"
echo "package: $(basename "$deb") installs and runs ($version)"
