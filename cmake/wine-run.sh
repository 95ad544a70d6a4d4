#!/bin/sh
# Runs one Windows program of the 64-bit build under Wine, inside the
# throwaway prefix of the build tree. Used as CMake's cross-compiling
# emulator: wine-run.sh PREFIX PROGRAM [ARGS...]
prefix="$1"; shift
export WINEPREFIX="$prefix"
export HOME="$prefix.home"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# The 32-bit guest suite runs these with its own loader and prefix kind.
export WINEARCH="${WINE_RUN_ARCH:-win64}"
loader="${WINE_RUN_LOADER:-/usr/lib/wine/wine64}"
mkdir -p "$HOME"
# The program's output goes through a file: programs that it starts (the
# installed product, Explorer, a browser) inherit its output, and would keep
# a pipe of CTest's open long after the test has ended.
log=$(mktemp)
"$loader" "$@" >"$log" 2>&1 </dev/null
status=$?
cat "$log"
rm -f "$log"
exit $status
