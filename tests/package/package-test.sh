#!/usr/bin/env bash
# package-test.sh MODE SOURCE_DIR BUILD_DIR VERSION SUFFIX [BUILD32_DIR]:
# packages BUILD_DIR's programs, expecting Morvane-VERSION-SUFFIX.zip and .msi
# (SUFFIX win32 or win64, as the build is), then
#   zip     unpacks the archive into a fresh folder and runs Morvane from there
#   tables  checks the installer's tables without running anything
#   msi     installs the installer silently into a fresh Wine prefix, runs
#           Morvane from Program Files, uninstalls, installs again and
#           upgrades to a newer package, checking the files and shortcuts;
#           then installs and uninstalls BUILD32_DIR's installer, whose
#           program this machine cannot run, if that build has its programs;
#           another package of the version is refused while one is installed
# Morvane runs with package_test.exe's driver, the fake tool as bin.exe and
# the lock on at 40.
set -euo pipefail
mode=$1
src=$2
build=$3
version=$4
suffix=$5
build32=${6:-}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$src/scripts/package" --build-dir "$build" --dist "$work/dist"
written=$(cd "$work/dist" && ls | paste -sd ' ')
[ "$written" = "Morvane-$version-$suffix.msi Morvane-$version-$suffix.zip" ] ||
  fail "this build was packaged as $written"
msi="$work/dist/Morvane-$version-$suffix.msi"

# run_program FOLDER WINE-RUN: Morvane started from FOLDER (a Unix path)
# with the fake tool and the lock on at 40, up to its prompt and cancelled.
run_program() {
  cp "$build/bin/fakevol.exe" "$1/bin.exe"
  printf '[user]\r\nvol=40\r\nisLock=1\r\n' >"$1/config.ini"
  MORVANE_PACKAGE="$(winepath "$1")" "$2" "$build/bin/package_test.exe" </dev/null
}
winepath() {
  case $1 in
    "$prefix"/drive_c/*) local path=${1#"$prefix"/drive_c/} && echo "C:\\${path//\//\\}" ;;
    *) echo "Z:${1//\//\\}" ;;
  esac
}
prefix=/nonexistent

# The installer's identity and layout, as Windows reads them.
check_tables() {
  local programfiles=ProgramFilesFolder template=Intel other=win64
  [ "$suffix" = win64 ] && programfiles=ProgramFiles64Folder template=x64 other=win32
  # Read whole before grep -q ends early: msiinfo must not write to a closed
  # pipe. It writes a table's streams (the icon) into the current folder.
  local text row table
  cd "$work"
  text=$(msiinfo suminfo "$msi")
  grep -qx "Template: $template;1033" <<<"$text" || fail "the platform is not $template"
  while IFS='|' read -r table row; do
    text=$(msiinfo export "$msi" "$table" | tr -d '\r')
    grep -qF -- "${row//\\t/$'\t'}" <<<"$text" || fail "no row '$row' in the $table table"
  done <<EOF2
Property|ProductName\tMorvane
Property|ProductVersion\t$version
Property|UpgradeCode\t{4E1D7C3A-9B26-4F85-A0D3-6C2E8B91F547}
Property|ALLUSERS\t1
Property|ARPPRODUCTICON\tMorvane.ico
Icon|Morvane.ico
Upgrade|{4E1D7C3A-9B26-4F85-A0D3-6C2E8B91F547}\t\t$version\t\t1\t\tWIX_UPGRADE_DETECTED
LaunchCondition|Installed OR WIX_DOWNGRADE_DETECTED OR NOT SAME_OR_NEWER_DETECTED\tMorvane is already installed from Morvane-$version-$other.msi. Uninstall it
InstallExecuteSequence|RemoveExistingProducts
Directory|INSTALLFOLDER\t$programfiles\tMorvane
Shortcut|StartMenuShortcut\tProgramMenuFolder\tMorvane\tProgram\t[#Morvane.exe]
Shortcut|StartupShortcut\tStartupFolder\tMorvane\tProgram\t[#Morvane.exe]
File|Morvane.exe\tProgram\tMorvane.exe
File|bin.exe\tTool\tbin.exe
File|ReadMe.txt\tGuide\tReadMe.txt
EOF2
  # A 64-bit package says so for each component, and asks for 64-bit Windows.
  local bits=0 conditions=""
  [ "$suffix" = win64 ] && bits=256 conditions=VersionNT64
  [ "$(msiinfo export "$msi" Component | tr -d '\r' | awk -F'\t' 'NR > 3 { print $4 }' | sort -u)" = $bits ] ||
    fail "the components are not all of attributes $bits"
  [ "$(msiinfo export "$msi" LaunchCondition | tr -d '\r' | awk -F'\t' 'NR > 3 && !/DOWNGRADE/ { print $1 }')" = "$conditions" ] ||
    fail "the launch conditions are not '$conditions'"
}

case $mode in
  zip)
    mkdir "$work/unpacked"
    unzip -q "$work/dist/Morvane-$version-$suffix.zip" -d "$work/unpacked"
    entries=$(cd "$work/unpacked" && find . -mindepth 1 | sort | paste -sd ' ')
    [ "$entries" = "./Morvane.exe ./ReadMe.txt ./bin.exe" ] || fail "the archive holds: $entries"
    cmp "$build/bin/Morvane.exe" "$work/unpacked/Morvane.exe"
    cmp "$build/bin/bin.exe" "$work/unpacked/bin.exe"
    # Notepad on any Windows shows both languages only for UTF-8 with its
    # byte-order mark, and wants CRLF line ends.
    [ "$(head -c 3 "$work/unpacked/ReadMe.txt" | od -An -tx1 | tr -d ' ')" = efbbbf ] ||
      fail "ReadMe.txt does not start with the UTF-8 byte-order mark"
    if grep -qv $'\r$' "$work/unpacked/ReadMe.txt"; then
      fail "ReadMe.txt has a line not ended by CRLF"
    fi
    run_program "$work/unpacked" "$build/wine-run"
    ;;
  tables)
    check_tables
    ;;
  msi) ;;
  *) fail "unknown mode $mode" ;;
esac
[ "$mode" = msi ] || exit 0

# A fresh prefix of this build's kind, with no shell links written to the
# host's menus (winemenubuilder).
prefix="$work/prefix"
sed -e "s|^export WINEPREFIX=.*|export WINEPREFIX=\"$prefix\"|" \
  -e 's|^export WINEDLLOVERRIDES="\(.*\)"|export WINEDLLOVERRIDES="\1;winemenubuilder.exe=d"|' \
  "$build/wine-run" >"$work/wine-run"
chmod +x "$work/wine-run"
run="$work/wine-run"
"$run" wineboot -i </dev/null >/dev/null 2>&1
# One server for the whole run, started before anything that could hand
# its standard output on to Wine's services.
WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
WINEPREFIX="$prefix" wineserver -p
trap 'WINEPREFIX="$prefix" wineserver -k; rm -rf "$work"' EXIT
"$run" cmd /c exit </dev/null >/dev/null 2>&1

# The prefix is of the build's kind: its own Program Files either way.
folder="$prefix/drive_c/Program Files/Morvane"
target="$(winepath "$folder")\\Morvane.exe"
# msiexec OPTION MSI [STATUS]: STATUS 67 is 1603 as a Unix exit status keeps
# it, a package refused by a launch condition.
msiexec() {
  local status=0
  "$run" msiexec "$1" "$(winepath "$2")" /qn </dev/null >/dev/null 2>&1 || status=$?
  [ $status = "${3:-0}" ] || fail "msiexec $1 $2 ended with $status"
}
# Wine puts the shortcuts of a per-machine package into the user's own Start
# menu; Windows puts them into the all-users one (the Shortcut table says
# which folder).
shortcuts() {
  (cd "$prefix/drive_c/users" && find . -iname '*.lnk' | sed 's|^\./[^/]*/AppData/Roaming/Microsoft/Windows/||' | sort | paste -sd '|')
}
installed() {
  cmp "$programs/Morvane.exe" "$folder/Morvane.exe"
  cmp "$programs/bin.exe" "$folder/bin.exe"
  cmp "$src/docs/guide.txt" "$folder/ReadMe.txt"
  # The icon Apps shows, kept by the installer service for one product.
  cmp "$src/res/main.ico" "$prefix"/drive_c/windows/Installer/*/Morvane.ico
  [ "$(shortcuts)" = "Start Menu/Programs/Morvane.lnk|Start Menu/Programs/StartUp/Morvane.lnk" ] ||
    fail "the shortcuts are: $(shortcuts)"
  local link
  for link in "$prefix"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/{,StartUp/}Morvane.lnk; do
    grep -qaF "$target" "$link" || fail "$link does not start $target"
  done
}
# Only what the user made is left: the settings and the fake tool's files.
removed() {
  [ "$(cd "$folder" 2>/dev/null && ls | paste -sd ' ')" = "$1" ] || fail "left in $folder: $(ls "$folder")"
  [ -z "$(shortcuts)" ] || fail "shortcuts left: $(shortcuts)"
}
left="config.ini fake-log.txt fake-start.txt fake-volume.txt"
programs="$build/bin"
# Another package of this version, with a product code of its own as the
# other build's has: the win32 build's, or this build's packaged again.
[ -n "$build32" ] && [ -f "$build32/bin/Morvane.exe" ] || build32=$build
"$src/scripts/package" --build-dir "$build32" --dist "$work/other" >/dev/null
other=$(ls "$work"/other/*.msi)

msiexec /i "$msi"
installed
run_program "$folder" "$run"
cp "$folder/config.ini" "$work/config.ini"
msiexec /x "$msi"
removed "$left"
cmp "$work/config.ini" "$folder/config.ini"
msiexec /i "$msi"
installed
cmp "$work/config.ini" "$folder/config.ini"
msiexec /i "$other" 67
installed

# A newer package (a newer version in the first three numbers, the ones
# Windows Installer compares) replaces this one: once it is uninstalled,
# nothing of the older one is left either.
newer=$(echo "$version" | awk -F. '{ print $1 "." $2 "." $3 + 1 ".0" }')
"$src/scripts/package" --build-dir "$build" --dist "$work/newer" --version "$newer" >/dev/null
msiexec /i "$work/newer/Morvane-$newer-$suffix.msi"
installed
cmp "$work/config.ini" "$folder/config.ini"
msiexec /x "$work/newer/Morvane-$newer-$suffix.msi"
removed "$left"
cmp "$work/config.ini" "$folder/config.ini"

# The 32-bit installer goes under Program Files (x86).
[ "$build32" != "$build" ] || exit 0
folder="$prefix/drive_c/Program Files (x86)/Morvane"
target="$(winepath "$folder")\\Morvane.exe"
programs="$build32/bin"
msiexec /i "$other"
installed
msiexec /i "$msi" 67
msiexec /x "$other"
removed ""
echo "the 32-bit installer installed and uninstalled"
