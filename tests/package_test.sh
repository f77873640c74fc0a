#!/usr/bin/env bash
# Makes the packages of each configuration given (default: "default"): a
# configure preset and any -D options, e.g. "dev -DHIDLIST_STATIC_RUNTIME=OFF".
# Run from the top of the work tree. Each is built and packed twice, from two
# copies of the files git lists, in folders of other names, one after the
# other, the second under another umask and time zone (a POSIX one, which
# needs no tzdata): the packages must be the same bytes, with the archives'
# entries in name order. Then checks what a user gets. A .deb: the program,
# for the package's machine and with the C++ runtime the configuration asked
# for; the compressed manual page and the documents; lintian without errors
# or warnings (which covers the copyright, the changelog and the manual
# page's rendering). A release preset's (release-*) besides: no glibc
# symbol newer than 2.17; in the Debian 11 root, the .deb installs and the
# .tar.gz's program, left in the root's shipped/ARCH for the real-kernel
# stage, gives every case's bytes (tests/in-debian11.sh). A Windows .zip:
# hidlist.exe, README.md and LICENSE, no MinGW DLL that the program would
# need, and the version resource and manifest that windres reads back.
# Needs: git, cmake, cpack, dpkg-deb, lintian, unzip, objdump, readelf, the
# MinGW binutils, and root for the Debian 11 root (debootstrap, chroot).
set -uo pipefail
shopt -s nullglob
failed=0
# The Debian 11 root that builds the release presets' programs, and runs them.
export HIDLIST_RELEASE_ROOT=${HIDLIST_RELEASE_ROOT:-$PWD/build/debian11} && debian11=$HIDLIST_RELEASE_ROOT
fail() { echo "FAIL: $*"; failed=1; }
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
copies=(one "second clone")
for copy in "${copies[@]}"; do mkdir -p "$work/$copy/hidlist" && git ls-files -z -co --exclude-standard |
  tar --null -T - -cf - | tar -xmf - -C "$work/$copy/hidlist" || exit 2; done
sums() { (cd "$1" && sha256sum -- *.deb *.tar.gz *.zip </dev/null); }
for conf in "${@:-default}"; do
  n=$((${n:-0} + 1)) out=$work/one/packages-$n && echo "== $conf" && read -ra options <<<"$conf"
  for copy in "${copies[@]}"; do
    ([[ $copy == one ]] || { umask 002 && export TZ=NPT-5:45; } && cd "$work/$copy/hidlist" &&
      cmake --preset "${options[@]}" -B ../build-$n -DHIDLIST_BUILD_TESTS=OFF && cmake --build ../build-$n -j "$(nproc)" &&
      cd ../build-$n && cpack -B ../packages-$n) >"$out.log" 2>&1 || { fail "$conf in $copy"; cat "$out.log"; continue 2; }
  done
  diff <(sums "$out") <(sums "$work/second clone/packages-$n") && sums "$out" || fail "$conf: two builds, other bytes"
  for tgz in "$out"/*.tar.gz; do tar -tzf "$tgz" | LC_ALL=C sort -c || fail "$tgz: entries not in name order"; done
  for deb in "$out"/*.deb; do
    root=$out/root man=$out/root/usr/share/man/man1/hidlist.1.gz version=$(dpkg-deb -f "$deb" Version)
    arch=$(dpkg-deb -f "$deb" Architecture) && dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $deb"
    [[ $deb == */hidlist_${version}_$arch.deb ]] || fail "package named $deb"
    [[ -x $root/usr/bin/hidlist && -f $man ]] || fail "no program or compressed manual page in the .deb"
    # The program is of the package's machine. (The real-kernel stage runs a
    # release preset's program, as its .tar.gz holds it, on that machine.)
    case $arch in
      amd64) machine=X86-64 emulator= ;;
      arm64) machine=AArch64 emulator=/usr/bin/qemu-aarch64-static ;;
      armhf) machine=ARM emulator=/usr/bin/qemu-arm-static ;;
      *) machine="an unknown machine" ;;
    esac
    readelf -h "$root/usr/bin/hidlist" | grep -qE "Machine: +(.* )?$machine\$" || fail "$deb: a program not for $arch"
    # The C++ runtime the configuration asked for: the shared one only with HIDLIST_STATIC_RUNTIME=OFF.
    readelf -d "$root/usr/bin/hidlist" | grep -q 'Shared library: \[libstdc++'; shared=$? && [[ $conf == *RUNTIME=OFF* ]]
    (($? == shared)) || fail "$conf: the program has the other C++ runtime"
    # lintian wants the copyright, the changelog and a manual page that renders without a warning.
    for doc in README.md LICENSE; do
      [[ -f $root/usr/share/doc/hidlist/$doc ]] || fail "no usr/share/doc/hidlist/$doc in the .deb"; done
    zcat "$root/usr/share/doc/hidlist/changelog.gz" | head -n 1 | grep -q "^hidlist ($version) " || fail "changelog: not $version"
    lintian --fail-on error,warning "$deb" || fail "lintian on $(basename "$deb")"
    [[ $conf == release-* ]] || continue
    newest=$(readelf -V "$root/usr/bin/hidlist" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)
    [[ $(printf '%s\n' "$newest" GLIBC_2.17 | sort -V | tail -n 1) == GLIBC_2.17 ]] || fail "$deb: needs $newest"
    shipped=shipped/$arch && rm -rf "${debian11:?}/$shipped" && mkdir -p "$debian11/$shipped" &&
      tar -xzf "$out"/*.tar.gz -C "$debian11/$shipped" --strip-components 1 && cmp "$root/usr/bin/hidlist" "$debian11/$shipped/bin/hidlist" &&
      HIDLIST_WRAPPER="sh tests/in-debian11.sh $debian11 $emulator" tests/cases.sh "/$shipped/bin/hidlist" tests/cases/*.case ||
      fail "$conf: the .tar.gz's program in Debian 11"
    cp "$deb" "$debian11/tmp/hidlist.deb" && chroot "$debian11" dpkg -i /tmp/hidlist.deb >/dev/null &&
      chroot "$debian11" dpkg --purge hidlist >/dev/null ||
      fail "$deb: dpkg -i in Debian 11"
  done
  for zip in "$out"/*.zip; do
    top=$(basename "$zip" .zip) && files=$(unzip -Z1 "$zip" | grep -v '/$' | tr '\n' ' ')
    [[ $files == "$top/LICENSE $top/README.md $top/hidlist.exe " ]] || fail "$top.zip holds, in this order, $files"
    unzip -q "$zip" "$top/hidlist.exe" -d "$out" && ! objdump -p "$out/$top/hidlist.exe" | grep -i 'DLL Name: lib' ||
      fail "$top.zip: hidlist.exe needs a DLL the .zip lacks"
    # The resources as windres decompiles them: the version of the .zip's name; a manifest for Windows 7, 8,
    # 8.1, 10 and 11, without a setting that would change what the console program does.
    v=${top#hidlist-} && v=${v%-win*} && rc=$(x86_64-w64-mingw32-windres -i "$out/$top/hidlist.exe" -O rc)
    for line in "^ FILEVERSION ${v//./, }, 0\$" "^ PRODUCTVERSION ${v//./, }, 0\$" "\"FileVersion\", \"$v\"" \
      "\"ProductVersion\", \"$v\"" '"ProductName", "hidlist"' '"OriginalFilename", "hidlist.exe"' '"FileDescription", "hid' \
      '"LegalCopyright", "Copyright (C) 20' '^1 24 /\* RT_MANIFEST' 'level=""asInvoker""'; do
      grep -q "$line" <<<"$rc" || fail "$top: no $line in hidlist.exe's resources"
    done
    [[ $(grep -c '<supportedOS Id=' <<<"$rc") == 4 ]] && ! grep -qiE 'activeCodePage|dpiAware|longPathAware' <<<"$rc" ||
      fail "$top: the manifest's supported systems or settings differ"
  done
  [[ -n $(echo "$out"/*.deb "$out"/*.zip) ]] || fail "cpack for $conf made neither a .deb nor a .zip"
done
((failed == 0)) && echo "package_test: all checks passed"
