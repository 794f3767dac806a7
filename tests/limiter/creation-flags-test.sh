#!/usr/bin/env bash
# creation-flags-test.sh BUILD_DIR: runs one command through the command
# runner under Wine's relay trace of CreateProcessA and checks how the
# interpreter is started, which Wine cannot show otherwise:
# - its flags: Wine shows no console window whatever they are; on Windows a
#   terminal program hosting new consoles shows one unless CREATE_NO_WINDOW
#   (0x08000000) is among them;
# - its command line: Wine's interpreter has no AutoRun; Windows' runs the
#   user's AutoRun command first unless the line starts "Cmd.exe /D /C ".
set -euo pipefail
build=$1
key='HKCU\Software\Wine\Debug'
"$build/wine-run" reg add "$key" /v RelayInclude /d kernel32.CreateProcessA /f </dev/null >/dev/null 2>&1
trap '"$build/wine-run" reg delete "$key" /v RelayInclude /f </dev/null >/dev/null 2>&1' EXIT
# The trace goes to the Unix standard error; the test's own output is dropped.
trace=$(MORVANE_WINEDEBUG=+relay "$build/wine-run" "$build/bin/test_limiter.exe" \
          --gtest_filter=CommandRunner_RunCommand.ReturnsOneLineWithoutItsLineBreak \
          2>&1 >/dev/null </dev/null | tr -d '\r')
# Call KERNEL32.CreateProcessA(app "...\cmd.exe",cmdline "Cmd.exe /D /C ...",pa,ta,inherit,flags,...)
call=$(grep -ai 'Call KERNEL32.CreateProcessA([0-9a-f]* "[^"]*\\cmd.exe",' <<<"$trace" | head -1 || true)
if [ -z "$call" ]; then
  echo "FAIL: no CreateProcessA call of the interpreter in the trace:" >&2
  grep -a 'CreateProcess' <<<"$trace" >&2 || true
  exit 1
fi
# The trace writes the line's quotes as \".
line=$(sed -E 's/.*CreateProcessA\([0-9a-f]+ "[^"]*",[0-9a-f]+ "(.*)",[0-9a-f]+,[0-9a-f]+,[0-9a-f]+,[0-9a-f]+,.*/\1/' <<<"$call")
if [[ $line != 'Cmd.exe /D /C \"echo hello & echo.   \"' ]]; then
  echo "FAIL: the interpreter is started with the line [$line], not \"Cmd.exe /D /C \" and the quoted command: $call" >&2
  exit 1
fi
flags=$(sed -E 's/.*CreateProcessA\([0-9a-f]+ "[^"]*",[0-9a-f]+ ".*",[0-9a-f]+,[0-9a-f]+,[0-9a-f]+,([0-9a-f]+),.*/\1/' <<<"$call")
if (( (16#$flags & 16#08000000) == 0 )); then
  echo "FAIL: the interpreter is created with flags $flags, without CREATE_NO_WINDOW: $call" >&2
  exit 1
fi
echo "command line [$line], creation flags $flags"
