#!/bin/sh
# A volume honestly short of space for the low-disk scenario: a 512 KB
# tmpfs linked into the test run's Wine prefix as drive S:.
#   lowdisk.sh setup PREFIX MOUNTPOINT
#   lowdisk.sh cleanup PREFIX MOUNTPOINT
# Mounting needs root; without it the drive is simply not made and the
# scenario skips itself.
action="$1"; prefix="$2"; mountpoint="$3"
link="$prefix/dosdevices/s:"
case "$action" in
setup)
    rm -f "$link"
    mkdir -p "$mountpoint"
    if mountpoint -q "$mountpoint" || mount -t tmpfs -o size=512k tmpfs "$mountpoint" 2>/dev/null; then
        ln -s "$mountpoint" "$link"
        echo "drive S: is a 512 KB tmpfs at $mountpoint"
    else
        echo "cannot mount a tmpfs here (not root?): the low-disk scenario will be skipped"
    fi
    ;;
cleanup)
    rm -f "$link"
    if mountpoint -q "$mountpoint"; then
        umount "$mountpoint"
    fi
    rmdir "$mountpoint" 2>/dev/null
    echo "drive S: removed"
    ;;
*)
    echo "usage: $0 setup|cleanup PREFIX MOUNTPOINT" >&2
    exit 2
    ;;
esac
exit 0
