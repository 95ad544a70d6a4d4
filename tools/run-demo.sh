#!/bin/bash
# Runs the demo setup under Wine. The shipped program is the 32-bit
# setup.exe; this machine cannot execute 32-bit code, so its 64-bit twin,
# built from the same sources with the same payload, is what runs.
#   run-demo.sh SETUP32 SETUP64
# With a DISPLAY the wizard opens for a person. Without one it runs on a
# virtual display, is driven through the wizard from outside when the
# driver has been built, and screenshots are saved.
set -euo pipefail
setup32=$1
setup64=$2
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$root/build/demo-prefix
shots=$root/build/shots/demo
export WINEPREFIX=$prefix HOME=$prefix.home WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$HOME" "$shots"

echo "== setup.exe (32-bit, shipped): $setup32 ($(stat -c %s "$setup32") bytes)"
echo "   imports: $(i686-w64-mingw32-objdump -p "$setup32" | awk '/DLL Name/ {print $3}' | tr '\n' ' ')"
echo "== running the 64-bit twin: $setup64"

if [ ! -d "$prefix/drive_c" ]; then
    echo "== creating the demo Wine prefix $prefix"
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi

driver=$root/build/win64/tests/e2e/wizard_driver.exe
if [ -n "${DISPLAY:-}" ]; then
    /usr/lib/wine/wine64 "$setup64"
    wineserver -w
    echo "== the wizard has ended"
    exit 0
fi

echo "== no DISPLAY: running on a virtual display (Xvfb)"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -e
    /usr/lib/wine/wine64 explorer /desktop=demo,1024x768 "$0" </dev/null >/dev/null 2>&1 &
    if [ -x "$2" ]; then
        /usr/lib/wine/wine64 "$2" --walk --shots "$(winepath -w "$1" 2>/dev/null)" </dev/null || true
    else
        sleep 8
        import -window root "$1/first-page.png" && echo "screenshot: $1/first-page.png"
        echo "(the wizard driver is not built yet: showing the first page only)"
    fi
    wineserver -k >/dev/null 2>&1 || true
' "$setup64" "$shots" "$driver"
echo "== screenshots in $shots"
ls "$shots"
