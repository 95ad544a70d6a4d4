#!/bin/sh
# Prints the folder that holds the guest image (tools/guest/build-image.sh)
# on this machine: GUEST_IMAGE_DIR when set, else a cache shared by every
# checkout of the project, so that a fresh clone finds the image that an
# earlier one built from the same recipe (/var/cache/glyphforge-setup/guest
# as root, ~/.cache/glyphforge-setup/guest otherwise).
if [ -n "${GUEST_IMAGE_DIR:-}" ]; then
    echo "$GUEST_IMAGE_DIR"
elif [ "$(id -u)" = 0 ]; then
    echo /var/cache/glyphforge-setup/guest
else
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/glyphforge-setup/guest"
fi
