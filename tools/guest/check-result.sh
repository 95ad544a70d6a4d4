#!/bin/sh
# One program's result from the guest run of the 32-bit end-to-end suite:
# prints what it wrote and exits with its exit code.
#   check-result.sh JOBDIR KIND NAME
job=$1; kind=$2; name=$3
if ! command -v qemu-system-x86_64 >/dev/null; then
    echo "guest32: skipped, this machine has no qemu-system-x86_64"
    exit 77
fi
if [ ! -f "$job/results/$kind-$name.rc" ]; then
    echo "guest32: no result for $name in the $kind prefix (the guest did not get that far)"
    exit 1
fi
cat "$job/results/$kind-$name.log"
exit "$(cat "$job/results/$kind-$name.rc")"
