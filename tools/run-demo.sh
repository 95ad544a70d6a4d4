#!/bin/bash
# Runs the demo setup under Wine. The shipped program is the 32-bit
# setup.exe; this machine cannot execute 32-bit code, so its 64-bit twin,
# built from the same sources with the same payload, is what runs.
#   run-demo.sh BUILD32 BUILD64
# With a DISPLAY the wizard opens for a person. Without one it runs on a
# virtual display (Xvfb): it is walked through the whole wizard from
# outside, the pages it passed and where the files, registry entries and
# links went are printed, and screenshots of every page are saved.
set -euo pipefail
build32=$(cd "$1" && pwd)
build64=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
setup32=$build32/setup/setup.exe
setup64=$build64/setup/setup.exe
prefix=$build64/demo-prefix
export WINEPREFIX=$prefix HOME=$prefix.home WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$HOME"

echo "== setup.exe (32-bit, shipped): $setup32 ($(stat -c %s "$setup32") bytes)"
echo "   imports: $(i686-w64-mingw32-objdump -p "$setup32" | awk '/DLL Name/ {print $3}' | tr '\n' ' ')"
echo "== running its 64-bit twin under Wine: $setup64"

if [ -n "${DISPLAY:-}" ]; then
    [ -d "$prefix/drive_c" ] || /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 "$setup64"
    wineserver -w
    echo "== the wizard has ended"
    exit 0
fi

echo "== no DISPLAY: a virtual display (Xvfb), the wizard driven from outside"
# A fresh prefix each time, so that the demo installs into a clean machine.
wineserver -k >/dev/null 2>&1 || true
rm -rf "$prefix" "$HOME"
mkdir -p "$HOME"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    /usr/lib/wine/wine64 "$0" "$(winepath -w "$1")"
    status=$?
    wineserver -k >/dev/null 2>&1
    exit $status
' "$build64/tests/e2e/demo_walk.exe" "$setup64"
status=$?

echo "== screenshots of every page in English, French and Dutch"
"$root/tests/e2e/screenshots.sh" "$build64" "$root/build/shots" || true
echo "== screenshots are in $root/build/shots"
exit $status
