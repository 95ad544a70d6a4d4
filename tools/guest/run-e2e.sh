#!/bin/bash
# Runs the 32-bit end-to-end suite in the guest, with one boot for all of
# it: builds the guest image (or reuses it), lays out the job folder and
# boots the guest, which runs e2e-job.sh with a 32-bit and a 64-bit Wine
# prefix at once. The results stay in JOBDIR/results for
# check-result.sh; the timings are printed.
#   run-e2e.sh SOURCEDIR BUILDDIR IMAGEDIR JOBDIR SUITEFILE SECONDS
# An empty IMAGEDIR is the machine's cache (image-dir.sh).
# Exit 0 when the guest ran the whole job (whatever the tests said), 77
# when this machine has no qemu, else 1.
set -uo pipefail
source_dir=${1:?usage: run-e2e.sh SOURCEDIR BUILDDIR IMAGEDIR JOBDIR SUITEFILE SECONDS}
build=${2:?}
image=${3:-$("$1/tools/guest/image-dir.sh")}
job=${4:?}
suite=${5:?}
limit=${6:?}
here="$source_dir/tools/guest"

if ! command -v qemu-system-x86_64 >/dev/null; then
    echo "guest32: skipped, this machine has no qemu-system-x86_64 (Debian package qemu-system-x86)"
    exit 77
fi
"$here/build-image.sh" "$image" || exit 1

rm -rf "$job"
mkdir -p "$job"
cp "$here/e2e-job.sh" "$job/job.sh"
cp "$source_dir/cmake/wine-prefix.sh" "$source_dir/cmake/wine-run.sh" "$job/"
cp "$suite" "$job/suite.txt"
echo "win32 win64" >"$job/prefixes"

start=$(date +%s)
"$here/run-guest.sh" "$image" "$job" "$build" "$limit"
status=$?
echo "guest32: boot to power-off $(( $(date +%s) - start )) s"
if [ -f "$job/results/timings" ]; then
    awk '{ printf "guest32: %s %s %.1f s\n", $1, $2, $3 / 1000 }' "$job/results/timings"
fi
for rc in "$job"/results/*.rc; do
    [ -f "$rc" ] || continue
    name=${rc##*/}
    echo "guest32: ${name%.rc} exit $(cat "$rc")"
done
exit $status
