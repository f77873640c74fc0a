#!/bin/sh
# Runs a command in the Debian 11 root, in a mount namespace of its own (as
# root), with /proc mounted and, as the root's /sys and /dev, the tree that
# HIDLIST_ROOT names (a release program run the way cases.sh runs a
# program), or else the machine's own (the source built and tested there):
#   in-debian11.sh ROOT COMMAND [ARGUMENT...]   (COMMAND inside ROOT)
root=$1
shift
tree=${HIDLIST_ROOT:-/}
mkdir -p "${tree}sys" "${tree}dev"
exec unshare -m sh -c 'mount -t proc proc "$0/proc" && mount --rbind "$1sys" "$0/sys" &&
  mount --rbind "$1dev" "$0/dev" && shift &&
  exec chroot "$0" "$@"' "$root" "$tree" "$@"
