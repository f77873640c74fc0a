#!/usr/bin/env bash
# Makes the packages of each build folder given (default: build/default) with
# cpack, in a temporary folder, and checks what a user gets. A .deb: the
# program, which runs; its manual page, which renders; the documents Debian
# wants; lintian without errors or warnings. A Windows .zip: hidlist.exe,
# README.md and LICENSE, and no MinGW DLL that the program would need.
# Needs: cpack, dpkg-deb, lintian, groff (groff-base), unzip, objdump,
# readelf, and qemu-user for the ARM packages.
set -uo pipefail
shopt -s nullglob
failed=0
fail() { echo "FAIL: $*"; failed=1; }
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
for build in "${@:-build/default}"; do
  out=$work/$(basename "$build") && echo "== $build"
  (cd "$build" && cpack -B "$out" >"$out.log" 2>&1) || { fail "cpack in $build"; cat "$out.log"; continue; }
  for deb in "$out"/*.deb; do
    root=$out/root man=$out/root/usr/share/man/man1/hidlist.1.gz version=$(dpkg-deb -f "$deb" Version)
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $deb"
    arch=$(dpkg-deb -f "$deb" Architecture)
    [[ $deb == */hidlist_${version}_$arch.deb ]] || fail "package named $deb"
    [[ -x $root/usr/bin/hidlist && -f $man ]] || fail "no program or compressed manual page in the .deb"
    # The program is of the package's machine, and runs there (under qemu).
    case $arch in
      amd64) machine=X86-64 run=() ;;
      arm64) machine=AArch64 run=(qemu-aarch64 -L /usr/aarch64-linux-gnu) ;;
      armhf) machine=ARM run=(qemu-arm -L /usr/arm-linux-gnueabihf) ;;
      *) machine="an unknown machine" run=() ;;
    esac
    readelf -h "$root/usr/bin/hidlist" | grep -qE "Machine: +(.* )?$machine\$" ||
      fail "$(basename "$deb") holds a program for another machine than $arch"
    for doc in copyright changelog.gz README.md LICENSE; do
      [[ -f $root/usr/share/doc/hidlist/$doc ]] || fail "no usr/share/doc/hidlist/$doc in the .deb"
    done
    zcat "$root/usr/share/doc/hidlist/changelog.gz" | head -n 1 | grep -q "^hidlist ($version) " ||
      fail "the changelog's top entry is not version $version"
    printf '\n' | "${run[@]}" "$root/usr/bin/hidlist" >"$out/run" || fail "hidlist from the .deb: exit status $?"
    tail -n 1 "$out/run" | cmp -s - <(printf 'Press ENTER to return.........\r\n') ||
      fail "hidlist's output does not end with the prompt and CR LF: $(tail -n 1 "$out/run" | od -c)"
    warnings=$(zcat "$man" | groff -man -Tutf8 -ww 2>&1 >/dev/null) && [[ -z $warnings ]] ||
      fail "groff on the manual page: $warnings"
    lintian --fail-on error,warning "$deb" || fail "lintian on $(basename "$deb")"
  done
  for zip in "$out"/*.zip; do
    top=$(basename "$zip" .zip) && files=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
    [[ $files == "$top/LICENSE $top/README.md $top/hidlist.exe " ]] || fail "$top.zip holds $files"
    unzip -q "$zip" "$top/hidlist.exe" -d "$out" && ! objdump -p "$out/$top/hidlist.exe" | grep -i 'DLL Name: lib' ||
      fail "$top.zip: hidlist.exe needs a DLL the .zip lacks"
  done
  [[ -n $(echo "$out"/*.deb "$out"/*.zip) ]] || fail "cpack in $build made neither a .deb nor a .zip"
done
((failed == 0)) && echo "package_test: all checks passed"
