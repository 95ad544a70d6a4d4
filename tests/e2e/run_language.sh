#!/bin/sh
# Runs the language scenario of the wizard end-to-end program in a Wine
# prefix of its own, under the user locale of one language: Wine takes the
# user's default language from LANG, and a running wineserver keeps the
# one it started with, so the prefix and its server live only for this run.
# The prefix is a copy of the run's booted template, or booted here.
# E2E_DPI sets the screen's DPI of the prefix (Control Panel\Desktop
# LogPixels) and E2E_FILTER the tests to run (default WizardLanguage.*).
#   run_language.sh en|fr|nl|de PREFIX PROGRAM [TEMPLATE]
language="$1"; prefix="$2"; program="$3"; template="$4"
case "$language" in
en) LANG=en_US.UTF-8 ;;
fr) LANG=fr_FR.UTF-8 ;;
nl) LANG=nl_BE.UTF-8 ;;
de) LANG=de_DE.UTF-8 ;;
*) echo "usage: $0 en|fr|nl|de PREFIX PROGRAM" >&2; exit 2 ;;
esac
export LANG LC_ALL="$LANG"
export WINEPREFIX="$prefix"
export HOME="$prefix.home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
export E2E_LANGUAGE="$language"

wineserver -k 2>/dev/null
rm -rf "$prefix" "$HOME"
mkdir -p "$HOME"
if [ -n "$template" ] && [ -f "$template/system.reg" ]; then
    cp -a "$template" "$prefix"
else
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
fi

if [ -n "${E2E_DPI:-}" ]; then
    /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$E2E_DPI" /f \
        >/dev/null 2>&1
    wineserver -w
fi

/usr/lib/wine/wine64 "$program" --gtest_filter="${E2E_FILTER:-WizardLanguage.*}"
status=$?

wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
rm -rf "$prefix" "$HOME"
exit $status
