#!/bin/sh
# Runs a release program in the Debian 11 root the way cases.sh runs a
# program, with the tree HIDLIST_ROOT names as the root's /sys and /dev, in
# a mount namespace of its own (as root):
#   in-debian11.sh ROOT [EMULATOR] PROGRAM   (EMULATOR and PROGRAM inside ROOT)
root=$1
shift
mkdir -p "${HIDLIST_ROOT}sys" "${HIDLIST_ROOT}dev"
exec unshare -m sh -c 'mount --bind "${HIDLIST_ROOT}sys" "$0/sys" &&
  mount --bind "${HIDLIST_ROOT}dev" "$0/dev" && exec chroot "$0" "$@"' "$root" "$@"
