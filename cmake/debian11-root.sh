#!/bin/sh
# Makes the Debian 11 root (bullseye: glibc 2.31, GCC 10) whose compilers
# build the Linux release programs, as manylinux builds in an old
# distribution: a program linked against an old C library runs on every
# later one, not the other way round.
#   debian11-root.sh ROOT
# The release presets need it; ./scripts/check makes it in build/debian11.
# It holds GCC 10 for x86-64, arm64 and armhf, the arm64 and armhf C
# libraries beside its own and qemu-user-static, so that the programs can
# also be run and installed in it; CMake, make and GoogleTest, for the source
# built with Debian 11's own tools; and rpm, to install the .rpm packages.
# Once made (ROOT/.complete), a root only gets the packages it lacks.
# Needs root (debootstrap, chroot) and Debian's archive: deb.debian.org, or
# archive.debian.org once bullseye has left the main mirror;
# HIDLIST_DEBIAN_MIRROR names another mirror. bullseye gets no more updates:
# every root made from it holds the same compilers and libraries.
set -eu
root=$1
packages="g++-10 g++-10-aarch64-linux-gnu g++-10-arm-linux-gnueabihf libc6:arm64 libc6:armhf
  qemu-user-static g++ make cmake libgtest-dev rpm"
part=$root
if [ -e "$root/.complete" ] && chroot "$root" dpkg -s $packages >/dev/null 2>&1; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "debian11-root.sh: making $root needs root (debootstrap, chroot)" >&2
  exit 1
fi
in_root() { chroot "$part" env DEBIAN_FRONTEND=noninteractive "$@"; }
bootstrap() { rm -rf "$part" && debootstrap --variant=minbase --arch=amd64 bullseye "$part" "$1"; }
if [ ! -e "$root/.complete" ]; then
  echo "Making the Debian 11 build root in $root (once; a few minutes)"
  part=$root.part
  mirror=${HIDLIST_DEBIAN_MIRROR:-http://deb.debian.org/debian}
  if ! bootstrap "$mirror"; then
    echo "debian11-root.sh: $mirror serves no bullseye (HIDLIST_DEBIAN_MIRROR names one that does)" >&2
    if [ -n "${HIDLIST_DEBIAN_MIRROR:-}" ]; then
      exit 1
    fi
    echo "debian11-root.sh: trying Debian's archive mirror instead" >&2
    bootstrap http://archive.debian.org/debian
  fi
  cp /etc/resolv.conf "$part/etc/resolv.conf"
  in_root dpkg --add-architecture arm64
  in_root dpkg --add-architecture armhf
fi
# The archive mirror's Release files have expired: their dates are not checked.
in_root apt-get -o Acquire::Check-Valid-Until=false update -q
in_root apt-get install -y -q --no-install-recommends $packages
in_root apt-get clean
# The build machine's linker reads the root from outside: the root's links
# that name an absolute path are made relative, so that they stay inside it.
find "$part/usr/lib" "$part/usr/lib64" -type l -lname '/*' | while read -r link; do
  ln -sfr "$part$(readlink "$link")" "$link"
done
if [ "$part" != "$root" ]; then
  touch "$part/.complete"
  mv "$part" "$root"
fi
