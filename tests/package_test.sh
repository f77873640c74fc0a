#!/usr/bin/env bash
# Makes the packages of each configuration given (default: "default"): a
# configure preset and any -D options, e.g. "dev -DHIDLIST_STATIC_RUNTIME=OFF".
# Run from the top of the work tree. Each is built and packed twice, from two
# copies of the files git lists in folders of other names, the second under
# a packager's umask 077 and in another time zone (a POSIX one, which needs
# no tzdata): the packages must be the same bytes. Their names must say the
# machine of the program they hold, no two of all the configurations alike.
# Then what a user gets. A .deb: the changelog of its version, the C++
# runtime the configuration asked for, lintian without errors or warnings
# (which wants the copyright, the changelog and a manual page that renders,
# and every folder rwxr-xr-x). A .tar.gz: the .deb's program, its entries in
# name order. A .rpm: the .deb's program, summary and description, Requires
# read from the program, rpmlint without errors or warnings but those that
# tests/rpmlint.toml accepts (it checks the licence, the folders the package
# owns and their modes); Debian 11's rpm installs and removes it. A release
# preset's (release-*) besides: no glibc symbol newer than 2.17 among the
# Requires; in the Debian 11 root the .deb installs, and the .tar.gz's
# program, left in the root's shipped/ARCH for the real-kernel stage, gives
# every case's bytes (tests/in-debian11.sh). A Windows .zip: hidlist.exe,
# README.md and LICENSE, the version of the .zip's name and a manifest in the
# program's resources.
# Needs: git, cmake, cpack, dpkg-deb, lintian, rpm, rpmlint, unzip, readelf,
# the MinGW binutils, and root's rights with the Debian 11 root that
# cmake/debian11-root.sh makes.
set -uo pipefail
shopt -s nullglob
export HIDLIST_RELEASE_ROOT=${HIDLIST_RELEASE_ROOT:-$PWD/build/debian11}
debian11=$HIDLIST_RELEASE_ROOT
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
failed=0
# Each machine as readelf names it, in Debian's and in RPM's words, and the
# Debian 11 root's emulator for it.
machines="X86-64 amd64 x86_64
AArch64 arm64 aarch64 /usr/bin/qemu-aarch64-static
ARM armhf armv7hl /usr/bin/qemu-arm-static"

fail() { echo "FAIL: $*"; failed=1; return 1; }

# The files git lists copied to COPY, built there, their packages in
# $work/packages-$n-UMASK (rpmbuild takes no path with a space).
build() (  # UMASK COPY PRESET [OPTION...]
  packages=$work/packages-$n-$1
  umask "$1"
  mkdir -p "$2/hidlist"
  git ls-files -z -co --exclude-standard | tar --null -T - -cf - | tar -xmf - -C "$2/hidlist"
  cd "$2/hidlist" || exit
  shift 2
  cmake --preset "$@" -B "../build-$n" -DHIDLIST_BUILD_TESTS=OFF || exit
  cmake --build "../build-$n" -j "$(nproc)" || exit
  cpack --config "../build-$n/CPackConfig.cmake" -B "$packages"
)

sums() { (cd "$1" && sha256sum -- *.deb *.rpm *.tar.gz *.zip </dev/null); }

check_built_twice() {  # $conf's packages in $out, and the same bytes once more
  read -ra options <<<"$conf"
  build 022 "$work/one" "${options[@]}" >"$work/log" 2>&1 || fail "$conf: $(<"$work/log")" || return
  TZ=NPT-5:45 build 077 "$work/second clone" "${options[@]}" >"$work/log" 2>&1 || fail "$conf: $(<"$work/log")" || return
  diff <(sums "$out") <(sums "$work/packages-$n-077") || fail "$conf: two builds, other bytes"
  sums "$out" || fail "$conf: no packages"
}

check_deb() {  # $deb, unpacked in $out/deb
  dpkg-deb -x "$deb" "$out/deb" || fail "dpkg-deb -x $deb"
  zcat "$out/deb/usr/share/doc/hidlist/changelog.gz" | head -n 1 | grep -q "^hidlist ($version) " || fail "$deb: no $version changelog"
  # The shared C++ runtime only with HIDLIST_STATIC_RUNTIME=OFF.
  [[ $(readelf -d "$program" | grep -c 'NEEDED.*libstdc++') == $(grep -c RUNTIME=OFF <<<"$conf") ]] || fail "$conf: runtime"
  lintian --fail-on error,warning "$deb" || fail "lintian on $(basename "$deb")"
}

check_names() {  # of the packages in $out, for $version and the machine of $program; sets $rpm, $tgz, $deb_arch, $emulator
  local elf rpm_arch variant='' release=1 expected
  elf=$(readelf -h "$program" | awk '/Machine:/ { print $NF }')
  read -r _ deb_arch rpm_arch emulator < <(grep "^$elf " <<<"$machines")
  [[ $conf != *RUNTIME=OFF* ]] || variant=-shared-runtime release=1.shared_runtime
  rpm=$out/hidlist-$version-$release.$rpm_arch.rpm
  tgz=$out/hidlist-$version-linux-$deb_arch$variant.tar.gz
  expected="hidlist_${version}_$deb_arch$variant.deb ${rpm##*/} ${tgz##*/}"
  [[ $(cd "$out" && echo *.deb *.rpm *.tar.gz) == "$expected" ]] || fail "$conf: for $elf, not $expected"
}

check_tgz() {  # $tgz: the .deb's program, in a folder of the archive's name
  top=$(basename "$tgz" .tar.gz)
  tar -tzf "$tgz" | LC_ALL=C sort -c || fail "$tgz: entries not in name order"
  tar -xzf "$tgz" -C "$out" "$top/bin/hidlist" || fail "$tgz: no $top/bin/hidlist"
  cmp "$program" "$out/$top/bin/hidlist" || fail "$tgz: another program than the .deb's"
}

check_rpm() {  # $rpm: the .deb's program, summary and description
  rpm2cpio "$rpm" | (cd "$out" && cpio -id --quiet ./usr/bin/hidlist) || fail "rpm2cpio $rpm"
  cmp "$program" "$out/usr/bin/hidlist" || fail "$rpm: another program than the .deb's"
  diff <(dpkg-deb -f "$deb" Description) <(rpm -qp --qf '%{SUMMARY}\n%{DESCRIPTION}\n' "$rpm" | sed '2,$s/^/ /') ||
    fail "$rpm: another summary or description than the .deb's"
  rpmlint -c tests/rpmlint.toml "$rpm" >"$work/rpmlint.log"
  grep -q ' 0 errors, 0 warnings' "$work/rpmlint.log" || fail "rpmlint on $(basename "$rpm"): $(<"$work/rpmlint.log")"
  newest=$(rpm -qp --requires "$rpm" | grep -o 'GLIBC_[0-9.]*' | sort -V | tail -n 1)
  [[ $conf != release-* || $newest =~ ^GLIBC_2\.([0-9]|1[0-7])$ ]] || fail "$rpm: Requires up to ${newest:-no GLIBC_}"
  rm -rf "$debian11/tmp/rpm-root"
  cp "$rpm" "$debian11/tmp/hidlist.rpm"
  # Debian's rpm keeps its database in the user's home and warns unless told otherwise.
  chroot "$debian11" rpm --force-debian --root /tmp/rpm-root --dbpath /var/lib/rpm -i --nodeps --ignorearch \
    /tmp/hidlist.rpm || fail "$rpm: rpm -i in Debian 11"
  chroot "$debian11" rpm --force-debian --root /tmp/rpm-root --dbpath /var/lib/rpm -e hidlist || fail "$rpm: rpm -e"
}

check_in_debian11() {  # $deb, and $tgz's program where it is oldest
  local shipped=shipped/$deb_arch
  rm -rf "${debian11:?}/$shipped" && mkdir -p "$debian11/$shipped"
  tar -xzf "$tgz" -C "$debian11/$shipped" --strip-components 1
  HIDLIST_WRAPPER="sh tests/in-debian11.sh $debian11 $emulator" tests/cases.sh "/$shipped/bin/hidlist" \
    tests/cases/*.case || fail "$tgz: in Debian 11"
  cp "$deb" "$debian11/tmp/hidlist.deb"
  chroot "$debian11" dpkg -i /tmp/hidlist.deb >/dev/null || fail "$deb: dpkg -i in Debian 11"
  chroot "$debian11" dpkg --purge hidlist >/dev/null || fail "$deb: dpkg --purge in Debian 11"
}

check_zip() {  # $zip: the program and its documents; its resources as windres decompiles them
  top=$(basename "$zip" .zip)
  version=$(sed 's/^hidlist-\(.*\)-win..$/\1/' <<<"$top")
  files=$(unzip -Z1 "$zip" | tr '\n' ' ')
  [[ $files == "$top/LICENSE $top/README.md $top/hidlist.exe " ]] || fail "$top.zip holds, in this order, $files"
  unzip -q "$zip" "$top/hidlist.exe" -d "$out" || fail "$zip: no $top/hidlist.exe"
  rc=$(x86_64-w64-mingw32-windres -i "$out/$top/hidlist.exe" -O rc)
  grep -q "^ FILEVERSION ${version//./, }, 0\$" <<<"$rc" || fail "$top: hidlist.exe's version is not $version"
  grep -q '^1 24 /\* RT_MANIFEST' <<<"$rc" || fail "$top: hidlist.exe has no manifest"
}

n=0
for conf in "${@:-default}"; do
  n=$((n + 1))
  out=$work/packages-$n-022
  program=$out/deb/usr/bin/hidlist
  echo "== $conf"
  check_built_twice || continue
  for deb in "$out"/*.deb; do
    version=$(dpkg-deb -f "$deb" Version)
    check_deb
    check_names
    check_tgz
    check_rpm
    [[ $conf != release-* ]] || check_in_debian11
  done
  zip=$(echo "$out"/*.zip)
  [[ -z $zip ]] || check_zip
  [[ -n $(echo "$out"/*.deb "$out"/*.zip) ]] || fail "cpack for $conf made neither a .deb nor a .zip"
done
duplicates=$(printf '%s\n' "$work"/packages-*-022/*.{deb,rpm,tar.gz,zip} | sed 's|.*/||' | sort | uniq -d)
[[ -z $duplicates ]] || fail "two configurations' packages of one name: $duplicates"
((failed == 0)) && echo "package_test: all checks passed"
