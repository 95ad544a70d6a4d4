#!/bin/bash
# The job that the guest runs (as job.sh of its share): the end-to-end
# programs of the 32-bit build against the shipped setup.exe, in a 32-bit
# Wine prefix and, at the same time, in a 64-bit one where the 32-bit
# programs run under WOW64; both come booted with the image. Reads from the share:
#   build.path   the host's build tree (shared as /mnt/build)
#   prefixes     the prefix kinds to run, e.g. "win32 win64"
#   suite.txt    one program a line: NAME GTEST_FILTER PROGRAM
# and writes results/KIND-NAME.log and .rc (the program's exit code) and
# results/timings (milliseconds of each step; a prefix's is "start" when
# the image carried it, "wineboot" when it was made here).
set -u
job=/mnt/job
results=$job/results
mkdir -p "$results"
ms() { echo $(( $(date +%s%N) / 1000000 )); }

# The programs and the payload they compare against are copied to the
# guest's own disk, at the path they have on the host, so that the paths
# compiled into the test programs hold here too. They do not run from the
# share itself: Wine loads a 32-bit program from a 9p mount without the
# page cache (cache=none, the default) wrongly, and it crashes or shows
# empty dialogs; the same bytes from the disk run normally.
build=$(cat "$job/build.path")
start=$(ms)
mkdir -p "$build"
(cd /mnt/build && find . -type f \( -name '*.exe' -o -path './resources/payload/*' \) -print0 |
    xargs -0 cp -p --parents -t "$build")
echo "copy - $(( $(ms) - start ))" >>"$results/timings"

# The wizard speaks the language of the user's locale.
export LANG=C.UTF-8
export WINE_RUN_LOADER=/usr/bin/wine
# A crashing program ends instead of waiting in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# Each kind of prefix has a server of its own: both run at once, one on
# each of the guest's processors.
run_kind() {
    kind=$1
    export WINE_RUN_ARCH=$kind
    prefix=/root/prefix-$kind
    # The image carries this prefix booted (build-image.sh): only its server
    # and services start. An image without it gets a fresh one.
    start=$(ms)
    if sh "$job/wine-prefix.sh" start "$prefix" >"$results/$kind-prefix.log" 2>&1; then
        step=start
    else
        sh "$job/wine-prefix.sh" setup "$prefix" >>"$results/$kind-prefix.log" 2>&1
        step=wineboot
    fi
    echo "$kind $step $(( $(ms) - start ))" >>"$results/timings"
    while read -r name filter program; do
        [ -n "$name" ] || continue
        start=$(ms)
        timeout -k 10 900 sh "$job/wine-run.sh" "$prefix" "$program" --gtest_filter="$filter" \
            >"$results/$kind-$name.log" 2>&1
        echo $? >"$results/$kind-$name.rc"
        echo "$kind $name $(( $(ms) - start ))" >>"$results/timings"
    done <"$job/suite.txt"
    sh "$job/wine-prefix.sh" stop "$prefix" >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w 2>/dev/null
}
for kind in $(cat "$job/prefixes"); do
    run_kind "$kind" &
done
wait
