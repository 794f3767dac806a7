#!/usr/bin/env bash
# package-test.sh SOURCE_DIR BUILD_DIR: packages BUILD_DIR's programs, unpacks
# the archive into a fresh folder and starts Morvane.exe from there.
set -euo pipefail
src=$1
build=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$src/scripts/package" --build-dir "$build" --output "$work/Morvane.zip"

mkdir "$work/unpacked"
unzip -q "$work/Morvane.zip" -d "$work/unpacked"
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

"$build/wine-run" "$build/bin/package_check.exe" "Z:${work//\//\\}\\unpacked" </dev/null
