#!/bin/bash
# Boots the guest made by build-image.sh once, to run one job, and returns
# when the guest has powered off or the time limit has passed.
#   run-guest.sh [--write-image] IMAGEDIR JOBDIR BUILDDIR SECONDS [SCRATCHIMAGE]
# JOBDIR (read-write) holds job.sh and receives job.log and whatever the job
# writes; BUILDDIR is shared read-only and mounted in the guest at the same
# path as here, so that paths compiled into the test programs hold there
# too. SCRATCHIMAGE, a raw disk image, becomes the guest's second disk
# (/dev/vdb), written to, for jobs whose files are too large for the
# guest's own disk. The root image is never changed: the guest writes to a
# throwaway overlay, so that every run starts from the same disk. Only
# --write-image, for build-image.sh while it makes the image, lets the job
# write to the root image itself. Software emulation only (KVM hangs on
# these machines). The guest's console goes to JOBDIR/console.log.
# Exit: 0 the guest ran the job and powered off, 1 it did not, 124 the
# time limit ended it.
set -uo pipefail
snapshot=snapshot=on,
if [ "${1:-}" = --write-image ]; then
    snapshot=
    shift
fi
image=${1:?usage: run-guest.sh [--write-image] IMAGEDIR JOBDIR BUILDDIR SECONDS [SCRATCHIMAGE]}
job=${2:?}
build=${3:?}
limit=${4:?}
scratch=()
[ -n "${5:-}" ] && scratch=(-drive "file=$5,format=raw,if=virtio,cache=unsafe")
job=$(cd "$job" && pwd)
build=$(cd "$build" && pwd)
echo "$build" >"$job/build.path"
rm -f "$job/job.log"

# The overlay of -snapshot goes to TMPDIR; keep it beside the job.
export TMPDIR="$job"
# SMAP is off because this qemu's emulation faults the iret of a 32-bit
# program when it is on (the kernel reports a supervisor read from user
# mode and kills every 32-bit Wine process).
timeout --kill-after=15 "$limit" qemu-system-x86_64 \
    -accel tcg -cpu max,smap=off -smp 2 -m 3072 \
    -display none -monitor none -nic none -no-reboot \
    -serial "file:$job/console.log" \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 panic=-1 quiet init=/sbin/guest-init" \
    -drive "file=$image/root.img,format=raw,if=virtio,${snapshot}cache=unsafe" \
    "${scratch[@]}" \
    -virtfs "local,path=$job,mount_tag=job,security_model=none,id=job" \
    -virtfs "local,path=$build,mount_tag=build,security_model=none,readonly=on,id=build" \
    </dev/null
status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    echo "guest: stopped after the time limit of $limit s" >&2
    exit 124
fi
if [ $status -ne 0 ]; then
    echo "guest: qemu failed ($status)" >&2
    exit 1
fi
if ! grep -q '^guest: job ended' "$job/job.log" 2>/dev/null; then
    echo "guest: powered off without finishing its job; the console's end:" >&2
    tail -n 20 "$job/console.log" >&2
    exit 1
fi
exit 0
