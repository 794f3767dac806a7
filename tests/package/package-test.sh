#!/usr/bin/env bash
# package-test.sh SOURCE_DIR BUILD_DIR ARCHIVE: packages BUILD_DIR's programs,
# expects the package to be named ARCHIVE (the win32 or win64 one, as the
# build is), unpacks it into a fresh folder and starts Morvane.exe from there.
set -euo pipefail
src=$1
build=$2
archive=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$src/scripts/package" --build-dir "$build" --dist "$work/dist"
written=$(cd "$work/dist" && ls)
if [ "$written" != "$archive" ]; then
  echo "FAIL: this build was packaged as $written, not $archive" >&2
  exit 1
fi

mkdir "$work/unpacked"
unzip -q "$work/dist/$archive" -d "$work/unpacked"
entries=$(cd "$work/unpacked" && find . -mindepth 1 | sort | paste -sd ' ')
if [ "$entries" != "./Morvane.exe ./ReadMe.txt ./bin.exe" ]; then
  echo "FAIL: the archive holds: $entries" >&2
  exit 1
fi
cmp "$build/bin/Morvane.exe" "$work/unpacked/Morvane.exe"
cmp "$build/bin/bin.exe" "$work/unpacked/bin.exe"
# Notepad on any Windows shows both languages only for UTF-8 with its
# byte-order mark, and wants CRLF line ends.
if [ "$(head -c 3 "$work/unpacked/ReadMe.txt" | od -An -tx1 | tr -d ' ')" != efbbbf ]; then
  echo "FAIL: ReadMe.txt does not start with the UTF-8 byte-order mark" >&2
  exit 1
fi
if grep -qv $'\r$' "$work/unpacked/ReadMe.txt"; then
  echo "FAIL: ReadMe.txt has a line not ended by CRLF" >&2
  exit 1
fi

MORVANE_PACKAGE="Z:${work//\//\\}\\unpacked" "$build/wine-run" "$build/bin/package_test.exe" </dev/null
