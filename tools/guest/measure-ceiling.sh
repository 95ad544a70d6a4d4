#!/bin/bash
# Measures how large a product the shipped 32-bit setup.exe installs: lays
# out products of the sizes asked for (tools/guest/ceiling_product.py),
# makes each into a setup program with the 32-bit build's mksetup and
# payload-free program, and boots the guest once (tools/guest), where each
# installs silently in a 32-bit Wine prefix and in a 64-bit one (WOW64) and
# its files are checked. A one-off measurement, not a test: it takes an
# hour or more and several GB of disk.
#   measure-ceiling.sh WORKDIR KIND:MEGABYTES...
# KIND is noise (a setup program as large as its product) or zeros (a
# setup program of almost nothing), e.g.
#   tools/guest/measure-ceiling.sh build/ceiling noise:512 noise:1000 zeros:1900
# Prints, for each product, what mksetup said and, for each prefix, the
# setup's exit code, whether every file arrived intact, the seconds and
# the setup process's peak resident memory; the logs stay in
# WORKDIR/job/results. The products and the disk image are deleted at the
# end (the setup programs too, unless KEEP_SETUPS=1). PREFIXES="win64"
# runs one kind of prefix only; WINEDEBUG is handed to Wine in the guest.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=${1:?usage: measure-ceiling.sh WORKDIR KIND:MEGABYTES...}
shift
[ $# -gt 0 ] || { echo "usage: measure-ceiling.sh WORKDIR KIND:MEGABYTES..." >&2; exit 2; }
build=$source_dir/build/win32
# The host mksetup the 32-bit build used: the native build's, or its own.
mksetup=$source_dir/build/native/tools/mksetup/mksetup
[ -x "$mksetup" ] || mksetup=$build/host/mksetup
stub=$build/kit/setup-nopayload.exe
for f in "$mksetup" "$stub"; do
    [ -f "$f" ] || { echo "ceiling: build the win32 configuration first ($f is missing)" >&2; exit 1; }
done
command -v qemu-system-x86_64 >/dev/null || { echo "ceiling: needs qemu-system-x86_64" >&2; exit 1; }
image=$("$here/image-dir.sh")
"$here/build-image.sh" "$image" || exit 1

mkdir -p "$work"
work=$(cd "$work" && pwd)
disk=$work/disk
rm -rf "$disk" "$work/job" "$work/products"
mkdir -p "$disk/setups" "$disk/sums" "$work/job" "$work/products"
: >"$work/job/setups"
largest=0
for asked in "$@"; do
    kind=${asked%%:*}
    megabytes=${asked#*:}
    name=$kind-$megabytes
    product=$work/products/$name
    python3 "$here/ceiling_product.py" "$product" "$kind" "$megabytes" "$name" || exit 1
    if "$mksetup" "$product/probe.ini" --stub "$stub" -o "$disk/setups/$name.exe" --quiet \
        2>"$work/$name.mksetup"; then
        echo "ceiling: $name: setup program of $(stat -c %s "$disk/setups/$name.exe") bytes"
        cp "$product/main.sums" "$disk/sums/$name.sums"
        echo "$name" >>"$work/job/setups"
        [ "$megabytes" -gt "$largest" ] && largest=$megabytes
    else
        echo "ceiling: $name: mksetup refused it: $(cat "$work/$name.mksetup")"
    fi
    rm -rf "$product"
done

# The disk holds the setup programs and room for the largest installation.
setups_mb=$(du -sm "$disk" | cut -f1)
size_mb=$(( setups_mb + largest * 11 / 10 + 1024 ))
rm -f "$work/scratch.img"
mkfs.ext4 -q -F -L scratch -d "$disk" "$work/scratch.img" "${size_mb}M" || exit 1
[ "${KEEP_SETUPS:-0}" = 1 ] || rm -rf "$disk"

cp "$here/ceiling-job.sh" "$work/job/job.sh"
cp "$source_dir/cmake/wine-prefix.sh" "$source_dir/cmake/wine-run.sh" "$work/job/"
echo "${PREFIXES:-win32 win64}" >"$work/job/prefixes"
echo "${WINEDEBUG:-}" >"$work/job/winedebug"
start=$(date +%s)
"$here/run-guest.sh" "$image" "$work/job" "$build" 14400 "$work/scratch.img"
status=$?
echo "ceiling: boot to power-off $(( $(date +%s) - start )) s"
rm -f "$work/scratch.img"
if [ -f "$work/job/results/summary" ]; then
    sed 's/^/ceiling: /' "$work/job/results/summary"
fi
exit $status
