#!/usr/bin/env bash
# Boots Debian 12's own kernels under QEMU, with QEMU's USB HID devices and
# uhid devices, and runs the real program in each machine; the machine's
# init compares its bytes with data/expected/ and data/hotplug/:
#   run.sh CACHE AMD64-PROGRAM ARM64-PROGRAM ARMHF-PROGRAM
# data/machines has a line for each machine, in the order of the programs:
#   ARCH KERNEL-FLAVOUR TRIPLET LAYOUT CONSOLE QEMU-COMMAND
# with data/LAYOUT.qemu its QEMU options and USB devices, data/LAYOUT.modules
# their controllers' drivers. Each kernel is the one its flavour's
# metapackage names, fetched with busybox by apt-get download into CACHE and
# unpacked there, never installed; a warm run downloads nothing. The
# machines run side by side.
set -euo pipefail
here=$(dirname "$(realpath "$0")") cache=$(realpath -m "$1") host=$(dpkg --print-architecture)
programs=("${@:2}")

# The cache's folder of the kernel that $flavour's metapackage names.
kernel() { echo "$cache/$(apt-cache depends "linux-image-$flavour:$arch" | grep -o 'linux-image-[0-9][^:]*')"; }

# Boots the machine under ACCEL for TIMEOUT seconds at most. It says how it
# went when its init passed; under emulation, which decides, it shows the log
# when it did not.
boot() {  # ACCEL TIMEOUT
  timeout "$2" $qemu -accel "$1" $(<"$here/data/$layout.qemu") -kernel "$dir"/root/boot/vmlinuz-* \
    -initrd "$root.cpio" -serial "file:$root.log" -append "$console quiet panic=-1 layout=$layout" || true
  if grep -q 'hidlist-kernel: pass' "$root.log"; then
    echo "== $arch: ${dir##*/}, $1, $((SECONDS - start)) s;" "$(grep -a hot-plug "$root.log")"
    return
  fi
  [ "$1" = kvm ] || cat "$root.log"
  return 1
}

mapfile -t machines <"$here/data/machines"
for i in "${!machines[@]}"; do
  read -r arch flavour triplet layout console qemu <<<"${machines[i]}"
  dir=$(kernel) root=$cache/run-$arch start=$SECONDS
  if [ ! -e "$dir/unpacked" ]; then
    # Lists older than the archive may name a kernel it no longer has. The
    # packages are unpacked, and the modules.dep made that installing the
    # kernel would make.
    apt-get update -q
    dir=$(kernel)
    (mkdir -p "$dir/debs" && cd "$dir/debs" && apt-get download -q "${dir##*/}:$arch" "busybox-static:$arch")
    for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/root"; done
    busybox depmod -b "$dir/root" "${dir##*/linux-image-}"
    rm -r "$dir/debs" && touch "$dir/unpacked"
  fi
  # The initramfs: busybox, the program with its loader and C library (and
  # libdl, apart from libc in the glibc it was built against), the uhid
  # helper, the init script and the data, and the drivers of
  # data/LAYOUT.modules and usbhid with those they need (each line of
  # modules.dep is a module, a colon and all it needs, compressed or not).
  rm -rf "$root" && mkdir -p "$root"/{bin,lib,proc,sys,dev,etc} && ln -s lib "$root/lib64"
  cp -r "$dir/root/bin/busybox" "$here/init" "$here/data" "${programs[i]}" "$root/"
  echo 'user:x:1000:1000::/:/bin/sh' >"$root/etc/passwd"
  libc=$(dirname "$("$triplet-g++" -print-file-name=libc.so.6)")
  cp "$libc"/{ld-linux*.so.*,libc.so.6,libdl.so.2} "$root/lib/"
  "$triplet-g++" -std=c++20 -O2 -static -o "$root/uhid" "$here/uhid_device.cpp"
  modules=$(echo "$dir"/root/lib/modules/*)
  pattern=$(printf '/%s\\.ko(\\.xz)?:|' usbhid $(<"$here/data/$layout.modules"))
  (cd "$modules" && grep -E "${pattern%|}" modules.dep | tr -s ': ' '\n' | sed '$a modules.dep' |
    cpio -pdmu --quiet "$root/lib/modules/${modules##*/}")
  (cd "$root" && find . | cpio -o -H newc --quiet) >"$root.cpio"
  # KVM runs guests of the host's kind only; HIDLIST_ACCEL=tcg forces
  # emulation. A run under KVM that has not passed within 30 s is made again
  # under emulation: nested KVM can accept a guest and then crawl.
  if [[ -w /dev/kvm && $arch == "$host" && ${HIDLIST_ACCEL:-} != tcg ]]; then
    (boot kvm 30 || boot tcg 600) &
  else
    boot tcg 600 &
  fi
done
for job in $(jobs -p); do wait "$job" || failed=1; done
exit "${failed:-0}"
