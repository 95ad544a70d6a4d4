#!/bin/bash
# The job that the guest runs (as job.sh of its share) for
# measure-ceiling.sh: each setup program of the scratch disk (the guest's
# second disk, /dev/vdb) installs its product silently into a folder of
# that disk, in a 32-bit Wine prefix and then in a 64-bit one (WOW64); the
# installed files are checked against the product's list of sums and
# deleted again. Reads from the share:
#   prefixes   the prefix kinds, e.g. "win32 win64"
#   setups     one name a line: setups/NAME.exe and sums/NAME.sums on the disk
# and writes results/summary (one line a setup and prefix: exit code,
# check, seconds, the setup process's peak resident memory) and each
# run's log. The guest's own disk keeps only what a run stages and the
# copy of the setup program kept for repairs, removed after each run.
set -u
job=/mnt/job
results=$job/results
mkdir -p "$results"
ms() { echo $(( $(date +%s%N) / 1000000 )); }

mkdir -p /mnt/scratch
if ! mount /dev/vdb /mnt/scratch; then
    echo "ceiling: no scratch disk" >>"$results/summary"
    exit 1
fi
target=/mnt/scratch/target

# The largest resident size, in kilobytes, of the processes whose command
# line names $1 (the Wine process of the setup program, and the small
# shells that started it) while they run, sampled every second into the
# file $2.
watch_peak() {
    echo 0 >"$2"
    while :; do
        for process in /proc/[0-9]*; do
            if { tr '\0' ' ' <"$process/cmdline"; } 2>/dev/null | grep -qF "$1"; then
                peak=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\).*/\1/p' "$process/status" 2>/dev/null)
                [ -n "$peak" ] && [ "$peak" -gt "$(cat "$2")" ] && echo "$peak" >"$2"
            fi
        done
        sleep 1
    done
}

# A fresh prefix of the job's kind, made as cmake/wine-prefix.sh makes
# it, but with Wine's errors in the log and without taking wineboot's exit
# status at its word: under emulation on a busy machine it may give up
# waiting for a process of its own while the prefix is made all the same.
# The prefix counts as made when its registry has reached the disk.
make_prefix() (
    export WINEPREFIX=$1 HOME=$1.home WINEARCH=$kind WINEDEBUG=err+all
    wineserver -k 2>/dev/null
    rm -rf "$1" "$1.home"
    mkdir -p "$1.home"
    /usr/bin/wine wineboot -i </dev/null
    echo "wineboot: exit $?"
    /usr/bin/wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null
    wineserver -w
    wineserver -p
    /usr/bin/wine cmd /c exit </dev/null
    /usr/bin/wine rundll32.exe user32.dll,GetDesktopWindow </dev/null
    ls -l "$1"
    [ -f "$1/system.reg" ] && [ -f "$1/user.reg" ]
)

export LANG=C.UTF-8
export WINE_RUN_LOADER=/usr/bin/wine
# Wine's own messages, when asked for (the file winedebug of the share).
[ -s "$job/winedebug" ] && export WINEDEBUG="$(cat "$job/winedebug")"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
for kind in $(cat "$job/prefixes"); do
    export WINE_RUN_ARCH=$kind
    prefix=/root/prefix-$kind
    df -m / >"$results/$kind-prefix.log" 2>&1
    if ! make_prefix "$prefix" >>"$results/$kind-prefix.log" 2>&1; then
        echo "$kind the prefix could not be made (see $kind-prefix.log)" >>"$results/summary"
        continue
    fi
    while read -r name; do
        [ -n "$name" ] || continue
        rm -rf "$target"
        # The room each run starts with, for the reading of a failure.
        { df -m / /mnt/scratch; head -n 3 /proc/meminfo; } >"$results/$kind-$name.machine" 2>&1
        watch_peak "$name.exe" "$results/$kind-$name.peak" &
        watcher=$!
        start=$(ms)
        timeout -k 10 3600 sh "$job/wine-run.sh" "$prefix" "/mnt/scratch/setups/$name.exe" /S \
            "/LOG=Z:\\mnt\\job\\results\\$kind-$name.setup.log" "/D=Z:\\mnt\\scratch\\target" \
            >"$results/$kind-$name.out" 2>&1
        rc=$?
        seconds=$(( ($(ms) - start) / 1000 ))
        kill "$watcher" 2>/dev/null
        wait "$watcher" 2>/dev/null
        if [ -d "$target" ] && (cd "$target" && sha256sum --quiet -c "/mnt/scratch/sums/$name.sums") \
            >"$results/$kind-$name.check" 2>&1; then
            check=complete
        else
            check=incomplete
        fi
        echo "$kind $name exit $rc files $check seconds $seconds peak_kb $(cat "$results/$kind-$name.peak")" \
            >>"$results/summary"
        # The installation goes, and with it the copy of the setup program
        # kept for repairs, which is as large as the setup program.
        rm -rf "$target" "$prefix/drive_c/ProgramData/Corvane Setup"
    done <"$job/setups"
    sh "$job/wine-prefix.sh" stop "$prefix" >/dev/null 2>&1
    wineserver -w 2>/dev/null
    # The guest's disk is small: the next kind of prefix needs the room.
    rm -rf "$prefix" "$prefix.home"
done
umount /mnt/scratch
