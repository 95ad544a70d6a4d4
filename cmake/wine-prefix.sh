#!/bin/sh
# Creates or ends the throwaway Wine prefix of one test run.
#   wine-prefix.sh setup PREFIX   fresh prefix, null graphics driver, server kept alive
#   wine-prefix.sh stop PREFIX    shuts that prefix's server down
set -e
action="$1"; prefix="$2"
export WINEPREFIX="$prefix"
export HOME="$prefix.home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
case "$action" in
setup)
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix" "$HOME"
    mkdir -p "$HOME"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # The desktop process started by wineboot has no driver until it ends.
    wineserver -w
    wineserver -p
    echo "wine prefix ready: $prefix"
    ;;
stop)
    wineserver -k 2>/dev/null || true
    echo "wine server stopped: $prefix"
    ;;
*)
    echo "usage: $0 setup|stop PREFIX" >&2
    exit 2
    ;;
esac
