#!/bin/bash
# The job that the guest runs (as job.sh of its share) in the one boot in
# which build-image.sh lets it write its root image: makes the Wine
# prefixes that e2e-job.sh runs in, at the paths it uses, so that the image
# carries them booted and a test run only starts them. Each is made
# exactly as cmake/wine-prefix.sh setup makes it, and its server is then
# stopped and awaited, since only then is its registry on the disk. Reads
# from the share:
#   prefixes   the prefix kinds to make, e.g. "win32 win64"
# and writes results/KIND-prefix.log, results/timings (milliseconds of
# each step) and results/made, the kinds whose prefix is complete.
set -u
job=/mnt/job
results=$job/results
mkdir -p "$results"
ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Complete: the registry is on the disk and chooses the null graphics
# driver, the last thing setup writes before it starts the services.
complete() {
    [ -f "$1/system.reg" ] && grep -q '^"Graphics"="null"' "$1/user.reg" 2>/dev/null
}

# The environment e2e-job.sh runs them in (its language, its loader).
export LANG=C.UTF-8
export WINE_RUN_LOADER=/usr/bin/wine
# Each kind has a server of its own: both are made at once, one on each of
# the guest's processors.
make_kind() {
    kind=$1
    export WINE_RUN_ARCH=$kind
    prefix=/root/prefix-$kind
    : >"$results/$kind-prefix.log"
    # wineboot may give up waiting for a process of its own under emulation
    # on a busy machine; a second attempt starts from nothing again.
    for attempt in 1 2; do
        start=$(ms)
        # Traced, so that the log names the step a failed attempt ended at.
        sh -x "$job/wine-prefix.sh" setup "$prefix" >>"$results/$kind-prefix.log" 2>&1
        echo "setup (attempt $attempt): exit $?" >>"$results/$kind-prefix.log"
        sh "$job/wine-prefix.sh" stop "$prefix" >>"$results/$kind-prefix.log" 2>&1
        WINEPREFIX=$prefix wineserver -w 2>/dev/null
        echo "$kind wineboot $(( $(ms) - start ))" >>"$results/timings"
        if complete "$prefix"; then
            echo "$kind" >>"$results/made"
            break
        fi
    done
}
for kind in $(cat "$job/prefixes"); do
    make_kind "$kind" &
done
wait
sync
