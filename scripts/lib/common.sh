# Shared by the scripts: choosing the build, a private X display, and the
# build's own Wine prefix. Source it; it defines functions only.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# The shipped program is 32-bit. Some kernels run no 32-bit code at all, and
# Wine then runs only 64-bit programs: there the same sources are tested as
# a 64-bit build.
test_preset() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo win32; else echo win64; fi
}

# build_dir PRESET: where that preset builds. MORVANE_BUILD_ROOT moves every
# build (so that several working copies of one checkout stay apart).
build_dir() {
  echo "${MORVANE_BUILD_ROOT:-$root/build}/$1"
}

# configure_and_build PRESET [CMAKE-OPTION...]
configure_and_build() {
  local preset=$1
  shift
  cmake -S "$root" -B "$(build_dir "$preset")" --preset "$preset" -Wno-dev "$@" >/dev/null
  cmake --build "$(build_dir "$preset")" -j "$(nproc)"
}

# start_xvfb: a private virtual display in DISPLAY, ended by stop_all.
xvfb_pid=""
start_xvfb() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  local number
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number"
}

# prepare_wine BUILD_DIR: locale and prefix for each of BUILD_DIR's Wine
# wrappers (wine-run, code page 936, and wine-run-1252), then one
# wineserver per prefix kept for the whole run (so that Wine's own services
# never hold a test's output pipe open). wine_run is the usual wrapper.
wine_run=""
wine_prefixes=()
prepare_wine() {
  local build=$1
  wine_run="$build/wine-run"
  local wrapper
  for wrapper in "$build"/wine-run "$build"/wine-run-*; do
    [ -x "$wrapper" ] && prepare_prefix "$wrapper"
  done
}

prepare_prefix() {
  local wrapper=$1
  local prefix locales locale
  prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wrapper")
  locales=$(sed -n 's/^export LOCPATH="\(.*\)"$/\1/p' "$wrapper")
  locale=$(sed -n 's/^export LC_ALL=\(.*\)$/\1/p' "$wrapper")
  if [ ! -d "$locales/$locale" ]; then
    mkdir -p "$locales"
    localedef -i "${locale%%.*}" -f UTF-8 "$locales/$locale" >/dev/null 2>&1 || true
  fi
  if [ ! -f "$prefix/system.reg" ]; then
    echo "preparing the Wine prefix in $prefix"
    "$wrapper" wineboot -i </dev/null >/dev/null 2>&1
    # Without a window manager every hide waits for one; unmanaged windows
    # also get Wine's own title bar.
    "$wrapper" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  fi
  # Wine draws the caption buttons of its title bars in Marlett (Debian's
  # fonts-wine). This Wine loads the fonts in the prefix's Fonts folder, not
  # those in its own data folder; the list is read when the server starts.
  local marlett=/usr/share/wine/fonts/marlett.ttf fonts="$prefix/drive_c/windows/Fonts"
  if [ -f "$marlett" ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then
    cp "$marlett" "$fonts/"
  fi
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" wineserver -p
  "$wrapper" cmd /c exit </dev/null >/dev/null 2>&1
  # The stand-in audio device of the tests (tests/support/standin-device.cpp),
  # an mmdevapi.dll beside bin.exe. COM loads the device enumerator by the
  # path registered for it: a bare name lets the loader look beside the
  # program first. Wine takes its own copy before any other unless told
  # otherwise, and is told so for bin.exe only; a bin.exe with no such DLL
  # beside it falls back to Wine's own. (A WINEDLLOVERRIDES set by a Windows
  # process does not reach its children's loader, so the prefix holds it.)
  # The files are current once the old wineserver has ended.
  local clsid='{BCDE0395-E52F-467C-8E3D-C4579291692E}'
  if ! grep -A3 -F "$clsid\\\\InprocServer32]" "$prefix/system.reg" | grep -qx '@="mmdevapi.dll"' ||
    ! grep -A3 -F '[Software\\Wine\\AppDefaults\\bin.exe\\DllOverrides]' "$prefix/user.reg" |
    grep -qx '"mmdevapi"="native,builtin"'; then
    "$wrapper" reg add "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve /d mmdevapi.dll /f \
      </dev/null >/dev/null 2>&1
    "$wrapper" reg add 'HKCU\Software\Wine\AppDefaults\bin.exe\DllOverrides' /v mmdevapi \
      /d native,builtin /f </dev/null >/dev/null 2>&1
  fi
  wine_prefixes+=("$prefix")
}

stop_all() {
  local prefix
  for prefix in "${wine_prefixes[@]}"; do WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; done
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
