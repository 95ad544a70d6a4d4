#!/bin/sh
# Creates or ends the throwaway Wine prefix of one test run.
#   wine-prefix.sh template DIR           a booted prefix, null graphics driver, its server ended:
#                                         the others of a run are copies of it
#   wine-prefix.sh setup PREFIX [TEMPLATE] fresh prefix (a copy of TEMPLATE, or booted here),
#                                         server and services kept alive
#   wine-prefix.sh start PREFIX           a prefix made by setup earlier and kept: server kept alive
#   wine-prefix.sh stop PREFIX            shuts that prefix's server down
set -e
action="$1"; prefix="$2"; template="${3:-}"
export WINEPREFIX="$prefix"
export HOME="$prefix.home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The 32-bit guest suite runs these with its own loader and prefix kind.
export WINEARCH="${WINE_RUN_ARCH:-win64}"
loader="${WINE_RUN_LOADER:-/usr/lib/wine/wine64}"

# wineboot, then the null graphics driver; the server is then awaited, as
# only then is the registry on the disk. Every Wine process is detached
# from the caller's output, or CTest would wait for the pipe that the
# persistent server keeps open.
boot() {
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix" "$HOME"
    mkdir -p "$HOME"
    "$loader" wineboot -i </dev/null >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # The desktop process started by wineboot has no driver until it ends.
    wineserver -w </dev/null >/dev/null 2>&1
}

# Start the prefix's services (services.exe, winedevice, plugplay, the
# desktop) now, with no output attached: started later by a test, they
# would inherit its output pipe and keep CTest waiting for ever.
serve() {
    wineserver -p </dev/null >/dev/null 2>&1
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1
    "$loader" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

case "$action" in
template)
    boot
    echo "wine prefix template ready: $prefix"
    ;;
setup)
    if [ -n "$template" ]; then
        # A copy of a booted prefix is a fresh prefix, without a boot of
        # its own (wineboot is the slow part of a prefix).
        [ -f "$template/system.reg" ] || { echo "no wine prefix template at $template" >&2; exit 1; }
        wineserver -k 2>/dev/null || true
        rm -rf "$prefix" "$HOME"
        mkdir -p "$HOME"
        cp -a "$template" "$prefix"
    else
        boot
    fi
    serve
    echo "wine prefix ready: $prefix"
    ;;
start)
    # A prefix that setup made and whose server then ended (the guest's
    # image carries its prefixes so): what setup does after wineboot, for
    # the same reasons. Without its registry there is nothing to start.
    if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/user.reg" ]; then
        echo "no wine prefix made by setup at $prefix" >&2
        exit 1
    fi
    mkdir -p "$HOME"
    serve
    echo "wine prefix started: $prefix"
    ;;
stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    echo "wine server stopped: $prefix"
    ;;
*)
    echo "usage: $0 template|setup|start|stop PREFIX [TEMPLATE]" >&2
    exit 2
    ;;
esac
