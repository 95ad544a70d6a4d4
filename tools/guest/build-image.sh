#!/bin/bash
# Builds the Debian 12 guest in which the shipped 32-bit setup.exe runs
# under test: a minimal amd64 system with its kernel and initrd, Wine with
# its 32-bit half (wine32:i386), an init that runs one job from a 9p share
# and powers off, and the two Wine prefixes of e2e-job.sh already booted
# (made by prefix-job.sh in one boot of the guest that writes the image).
# The result lives in OUTDIR (by default the machine's cache that
# image-dir.sh names, shared by every checkout):
#   root.img  ext4 image of the root file system (sparse)
#   vmlinuz, initrd.img
#   recipe.sha  hash of the recipe that made them
#   prefix-job/  the job that booted the prefixes, with its logs
# An existing image whose recipe hash matches is reused as it is; two
# builds of one folder at once take turns.
#   build-image.sh [OUTDIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$("$here/image-dir.sh")}
mkdir -p "$out"
out=$(cd "$out" && pwd)
exec 9>"$out/.lock"
flock 9

# Everything that decides the image's content is part of the recipe.
GUEST_PACKAGES="linux-image-amd64 initramfs-tools kmod wine wine64 wine32:i386 fonts-wine"
# The booted prefixes take 1.9 GB; the image (sparse) keeps about 4 GB free
# beside them for what a job writes to the guest's own disk.
IMAGE_SIZE=8G
# The prefixes' content is decided by the job that makes them and by
# wine-prefix.sh, which it runs.
PREFIX_KINDS="win32 win64"
wine_prefix=$(cd "$here/../../cmake" && pwd)/wine-prefix.sh
recipe=$(cat "$here/build-image.sh" "$here/guest-init" "$here/prefix-job.sh" "$wine_prefix" |
    sha256sum | cut -d' ' -f1)

if [ -f "$out/recipe.sha" ] && [ "$(cat "$out/recipe.sha")" = "$recipe" ] &&
   [ -f "$out/root.img" ] && [ -f "$out/vmlinuz" ] && [ -f "$out/initrd.img" ]; then
    echo "guest image: reusing $out (recipe $recipe)"
    exit 0
fi

# The Debian mirror that apt already uses here.
mirror=$(sed -n 's/^URIs:[[:space:]]*\(http[^[:space:]]*\/debian\)\/*[[:space:]]*$/\1/p' \
    /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n1)
if [ -z "$mirror" ]; then
    mirror=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\(http[^[:space:]]*\/debian\)\/\?[[:space:]]\+bookworm[[:space:]].*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | head -n1)
fi
mirror=${mirror:-http://deb.debian.org/debian}

started=$(date +%s)
# The system is laid out in memory: dpkg's writes need no disk, and the
# image is written once, whole, at the end.
root=$(mktemp -d /dev/shm/guest-root.XXXXXX)
cleanup() { rm -rf "$root"; }
trap cleanup EXIT
rm -rf "$out/root.img" "$out/vmlinuz" "$out/initrd.img" "$out/recipe.sha" "$out/prefix-job"

# mmdebstrap fetches with apt (in parallel, both architectures at once:
# the 32-bit half of Wine comes from the guest's i386 architecture, never
# the host's, which cannot run 32-bit code) and unpacks without syncing.
echo "guest image: mmdebstrap from $mirror"
mmdebstrap --variant=minbase --architectures=amd64,i386 --include="$(echo $GUEST_PACKAGES | tr ' ' ,)" \
    --aptopt='APT::Install-Recommends "false"' --aptopt='Acquire::Languages "none"' \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    bookworm "$root" "deb $mirror bookworm main" >"$out/mmdebstrap.log" 2>&1 ||
    { tail -n 30 "$out/mmdebstrap.log"; exit 1; }

# No login of any kind and no network: the kernel starts guest-init, which
# runs the job of the share and powers off.
install -m 755 "$here/guest-init" "$root/sbin/guest-init"
sed -i 's/^root:[^:]*:/root:*:/' "$root/etc/shadow"
mkdir -p "$root/mnt/job" "$root/mnt/build"
echo guest32 >"$root/etc/hostname"
printf '127.0.0.1 localhost\n127.0.1.1 guest32\n' >"$root/etc/hosts"
rm -rf "$root/var/lib/apt/lists/"* "$root/var/cache/apt/"*.bin "$root/var/cache/apt/archives/"*.deb

kernel=$(ls "$root"/boot/vmlinuz-* | sort -V | tail -n1)
cp "$kernel" "$out/vmlinuz"
cp "$root/boot/initrd.img-${kernel##*/vmlinuz-}" "$out/initrd.img"
chmod 644 "$out/vmlinuz" "$out/initrd.img"

mkfs.ext4 -q -F -L guest32 -d "$root" "$out/root.img" "$IMAGE_SIZE"
cleanup
echo "guest image: system made in $(( $(date +%s) - started )) s"

# The prefixes are made in the guest itself: making either starts 32-bit
# Wine processes, which this machine's kernel cannot run. The job shares
# nothing of the build tree, only an empty folder in its place.
booted=$(date +%s)
job=$out/prefix-job
mkdir -p "$job/build"
cp "$here/prefix-job.sh" "$job/job.sh"
cp "$wine_prefix" "$job/"
echo "$PREFIX_KINDS" >"$job/prefixes"
"$here/run-guest.sh" --write-image "$out" "$job" "$job/build" 1800 || {
    rm -f "$out/root.img"; echo "guest image: the boot that makes the Wine prefixes failed" >&2; exit 1; }
for kind in $PREFIX_KINDS; do
    grep -qx "$kind" "$job/results/made" 2>/dev/null || {
        rm -f "$out/root.img"
        echo "guest image: the $kind Wine prefix could not be made; its log's end:" >&2
        tail -n 20 "$job/results/$kind-prefix.log" >&2
        exit 1
    }
done
# A journal left by the boot would be replayed by every test run.
e2fsck -p "$out/root.img" >"$job/e2fsck.log" 2>&1 || [ $? -le 1 ] ||
    { rm -f "$out/root.img"; cat "$job/e2fsck.log" >&2; exit 1; }
rmdir "$job/build"
echo "guest image: Wine prefixes booted in $(( $(date +%s) - booted )) s"

echo "$recipe" >"$out/recipe.sha"
echo "guest image: built in $(( $(date +%s) - started )) s ($(du -sh --apparent-size "$out/root.img" | cut -f1) image, $(du -sh "$out/root.img" | cut -f1) used)"
