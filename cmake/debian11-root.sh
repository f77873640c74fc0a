#!/bin/sh
# Makes the Debian 11 root (bullseye: glibc 2.31, GCC 10) whose compilers
# build the Linux release programs, as manylinux builds in an old
# distribution: a program linked against an old C library runs on every
# later one, not the other way round.
#   debian11-root.sh ROOT
# Once made, ROOT is left alone (ROOT/.complete). It holds GCC 10 for
# x86-64, arm64 and armhf, the arm64 and armhf C libraries beside its own
# and qemu-user-static, so that the programs can also be run and installed
# in it. Needs root (debootstrap, chroot) and Debian's archive;
# HIDLIST_DEBIAN_MIRROR names another mirror. bullseye gets no more updates:
# every root made from it holds the same compilers and libraries.
set -eu
root=$1
[ -e "$root/.complete" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "debian11-root.sh: making $root needs root (debootstrap, chroot)" >&2
  exit 1
fi
mirror=${HIDLIST_DEBIAN_MIRROR:-http://deb.debian.org/debian}
echo "Making the Debian 11 build root in $root (once; a few minutes)"
rm -rf "$root.part"
debootstrap --variant=minbase --arch=amd64 bullseye "$root.part" "$mirror"
cp /etc/resolv.conf "$root.part/etc/resolv.conf"
in_root() { chroot "$root.part" env DEBIAN_FRONTEND=noninteractive "$@"; }
in_root dpkg --add-architecture arm64
in_root dpkg --add-architecture armhf
in_root apt-get update -q
in_root apt-get install -y -q --no-install-recommends g++-10 g++-10-aarch64-linux-gnu \
  g++-10-arm-linux-gnueabihf libc6:arm64 libc6:armhf qemu-user-static
in_root apt-get clean
# The build machine's linker reads the root from outside: the root's links
# that name an absolute path are made relative, so that they stay inside it.
find "$root.part/usr/lib" "$root.part/usr/lib64" -type l -lname '/*' | while read -r link; do
  ln -sfr "$root.part$(readlink "$link")" "$link"
done
touch "$root.part/.complete"
mv "$root.part" "$root"
