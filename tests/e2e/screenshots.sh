#!/bin/sh
# Walks the real setup program through its wizard under Xvfb, inside a
# Wine desktop, once in each language asked for (a code: en, fr, nl, de, ja,
# ru, or language_REGION), and saves a PNG of every page and dialog into
# OUT/<language>.
#   tests/e2e/screenshots.sh [BUILD_DIR] [OUT] [LANGUAGES]
# BUILD_DIR is a win64 build with the targets setup and wizard_shots
# (default build/win64); OUT defaults to build/shots, LANGUAGES to
# "en fr nl". Run as root, a small
# tmpfs is linked as drive S: so that the disk-space warning and the
# error page are photographed too.
set -u
build=$(cd "${1:-build/win64}" && pwd)
out=$(mkdir -p "${2:-build/shots}" && cd "${2:-build/shots}" && pwd)
setup="$build/setup/setup.exe"
walker="$build/tests/e2e/wizard_shots.exe"
for f in "$setup" "$walker"; do
    [ -f "$f" ] || { echo "missing $f: build the targets setup and wizard_shots" >&2; exit 1; }
done

display=:$((90 + $$ % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
sleep 1

status=0
for language in ${3:-en fr nl}; do
    case "$language" in
    en) LANG=en_US.UTF-8 ;;
    fr) LANG=fr_FR.UTF-8 ;;
    nl) LANG=nl_BE.UTF-8 ;;
    de) LANG=de_DE.UTF-8 ;;
    ja) LANG=ja_JP.UTF-8 ;;
    ru) LANG=ru_RU.UTF-8 ;;
    # Another as language_REGION: pt_BR, zh_CN.
    *) LANG=$language.UTF-8 ;;
    esac
    export LANG LC_ALL="$LANG" DISPLAY="$display"
    export WINEPREFIX="$build/shots-prefix-$language"
    export HOME="$WINEPREFIX.home"
    export WINEDEBUG=-all WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    rm -rf "$WINEPREFIX" "$HOME" "$out/$language"
    mkdir -p "$HOME" "$out/$language"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    wineserver -w

    lowdisk=""
    mountpoint="$build/shots-lowdisk-$language"
    mkdir -p "$mountpoint"
    if mount -t tmpfs -o size=512k tmpfs "$mountpoint" 2>/dev/null; then
        ln -s "$mountpoint" "$WINEPREFIX/dosdevices/s:"
        lowdisk="S:"
    else
        echo "no tmpfs (not root): the disk-space warning is left out"
    fi

    echo "== $language"
    # The desktop stays up after the walk; the walker says when it is done.
    /usr/lib/wine/wine64 explorer /desktop=shots,1024x768 "$walker" "$setup" "$out/$language" \
        'C:\GlyphForge Shots\GlyphForge' $lowdisk &
    desktop=$!
    waited=0
    while [ ! -f "$out/$language/done" ] && [ $waited -lt 600 ]; do
        sleep 2
        waited=$((waited + 2))
    done
    grep -q ok "$out/$language/done" 2>/dev/null || status=1
    rm -f "$out/$language/done"
    wineserver -k 2>/dev/null
    wait $desktop

    for bmp in "$out/$language"/*.bmp; do
        [ -f "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    if [ -n "$lowdisk" ]; then
        rm -f "$WINEPREFIX/dosdevices/s:"
        umount "$mountpoint"
    fi
    rmdir "$mountpoint" 2>/dev/null
    rm -rf "$WINEPREFIX" "$HOME"
done
ls "$out"/*/*.png
exit $status
