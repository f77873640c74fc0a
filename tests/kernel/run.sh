#!/usr/bin/env bash
# Boots Debian 12's own kernels under QEMU, with QEMU's USB HID devices and
# uhid devices, and runs the real program in each machine; the machine's
# init compares its bytes with data/LAYOUT.expected and data/hotplug/:
#   run.sh CACHE AMD64-PROGRAM ARM64-PROGRAM ARMHF-PROGRAM
# data/machines has a line for each machine, in the order of the programs:
#   ARCH KERNEL-FLAVOUR TRIPLET LAYOUT CONSOLE QEMU-COMMAND
# with data/LAYOUT.qemu its QEMU options and USB devices, data/LAYOUT.modules
# their controllers' drivers. Each kernel is the one its flavour's
# metapackage names, fetched with busybox by apt-get download into CACHE and
# unpacked there, never installed. The machines run side by side.
set -euo pipefail
here=$(dirname "$(realpath "$0")") cache=$(realpath -m "$1") host=$(dpkg --print-architecture)

# Boots the machine with $accel and reports. A run under KVM that has not
# passed within 30 s is made again under emulation, which decides: nested
# KVM can accept a guest and then crawl, before or after its init begins.
machine() {
  local limit=600 && [ "$accel" != kvm ] || limit=30
  timeout $limit $qemu -accel ${accel%% *} $(<"$here/data/$layout.qemu") -kernel "$dir"/root/boot/vmlinuz-* \
    -initrd "$root.cpio" -serial "file:$root.log" -append "$console quiet panic=-1 layout=$layout" || true
  [ "$accel" != kvm ] || grep -q 'hidlist-kernel: pass' "$root.log" ||
    { accel="tcg (KVM did not pass in 30 s)" machine; return; }
  echo "== $arch: ${dir##*/}, $accel, $((SECONDS - start)) s;" "$(grep -a hot-plug "$root.log")"
  grep -q 'hidlist-kernel: pass' "$root.log" || { cat "$root.log" && exit 1; }
}

# The loop's shift leaves the machine's program in $1.
while read -r -u3 arch flavour triplet layout console qemu && shift; do
  # A warm run downloads nothing. A kernel package makes its modules.dep when
  # installed: here, once unpacked.
  kernel() { apt-cache depends linux-image-$flavour:$arch | grep -o 'linux-image-[0-9][^:]*'; }
  start=$SECONDS dir=$cache/$(kernel)
  if [ ! -e "$dir/unpacked" ]; then
    # Lists older than the archive name a kernel it no longer has.
    get() { mkdir -p "$dir/debs" && cd "$dir/debs" && apt-get download -q ${dir##*/}:$arch busybox-static:$arch; }
    (get) || { apt-get update -q && dir=$cache/$(kernel) && (get); }
    for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/root"; done
    busybox depmod -b "$dir/root" "${dir##*/linux-image-}" && rm -r "$dir/debs" && touch "$dir/unpacked"
  fi
  # The initramfs: busybox, the drivers and those they need, the program with
  # its loader and C library (and libdl, apart from libc in the glibc it was
  # built against), the uhid helper, the init script and the data.
  root=$cache/run-$arch && rm -rf "$root" && mkdir -p "$root"/{bin,lib,proc,sys,dev,etc}
  ln -s lib "$root/lib64" && cp -r "$dir/root/bin/busybox" "$here"/{init,data} "$1" "$root/"
  echo 'user:x:1000:1000::/:/bin/sh' >"$root/etc/passwd"
  cp "$(dirname "$("$triplet-g++" -print-file-name=libc.so.6)")"/{ld-linux*.so.*,libc.so.6,libdl.so.2} "$root/lib/"
  "$triplet-g++" -std=c++20 -O2 -static -o "$root/uhid" "$here/uhid_device.cpp"
  (cd "$dir/root/lib/modules"/* && grep -Ff <(printf '/%s.ko:\n' usbhid $(<"$here/data/$layout.modules")) \
    modules.dep | tr -s ': ' '\n' | sed '$a modules.dep' | cpio -pdmu --quiet "$root/lib/modules/${PWD##*/}")
  (cd "$root" && find . | cpio -o -H newc --quiet) >"$root.cpio"
  # KVM runs guests of the host's kind only; HIDLIST_ACCEL=tcg forces emulation.
  [ -w /dev/kvm ] && [ $arch = $host ] && [ "${HIDLIST_ACCEL:-}" != tcg ] && accel=kvm || accel=tcg
  machine &
done 3<"$here/data/machines"
for job in $(jobs -p); do wait "$job" || failed=1; done
exit "${failed:-0}"
