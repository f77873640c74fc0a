#!/usr/bin/env bash
# Makes the release packages with CPack and checks what each one holds.
#
#   tests/package_test.sh [BUILD...]
#
# Each BUILD is a configured build folder. One whose CPack configuration
# makes a .deb and a .tar.gz is checked as a Linux build, one that makes a
# .zip as a Windows build. Without arguments: build/default, then
# build/mingw-i686 and build/mingw-x86_64 when those folders exist.
#
# Linux build:   the .deb's file list and control fields, the .tar.gz's file
#                list, the program and manual page taken out of the .deb,
#                and `cmake --install` into a temporary prefix.
# Windows build: the .zip holds exactly hidlist.exe, README.md and LICENSE,
#                the program is a PE image of the right width that needs no
#                DLL missing from the .zip.
#
# Packages are made in a temporary folder (cpack -B), never taken from an
# earlier run. Needs: cmake, dpkg-deb, dpkg-shlibdeps (dpkg-dev), tar, gzip,
# unzip, groff (groff-base), man and lexgrog (man-db), objdump (binutils).
# Exits non-zero when any check fails.
set -uo pipefail

# Build folders given are relative to the caller's folder.
builds=()
for build in "$@"; do builds+=("$(realpath -m -- "$build")"); done
cd "$(dirname "$0")/.." || exit 2
source_dir=$PWD

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok:   $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/hidlist-package-test.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

for tool in cmake cpack dpkg-deb dpkg-shlibdeps tar unzip groff man lexgrog objdump; do
  if ! command -v "$tool" >/dev/null; then
    echo "package_test: $tool is missing (packages: dpkg-dev unzip groff-base man-db binutils)" >&2
    exit 2
  fi
done

# The value of a variable in a build's CPackConfig.cmake.
cpack_var() { # cpack_var BUILD NAME
  sed -n "s/^set($2 \"\\(.*\\)\")\$/\\1/p" "$1/CPackConfig.cmake" | tail -n 1
}

# A manual page renders with groff without a single warning, man -l shows
# it, and its NAME section is one that whatis/apropos can index.
check_man_page() { # check_man_page LABEL FILE
  local label=$1 page=$2 log
  log=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
  local rc=$?
  if ((rc == 0)) && [[ -z $log ]]; then
    pass "$label: groff -man -Tutf8 -ww renders it without warnings"
  else
    fail "$label: groff -man -Tutf8 -ww: exit $rc"
    printf '%s\n' "$log" | sed 's/^/      /'
  fi
  local shown
  shown=$(MANWIDTH=80 man -l "$page" 2>&1)
  if [[ $shown == *"HIDLIST(1)"* && $shown == *"Press ENTER to return........."* ]]; then
    pass "$label: man -l shows it"
  else
    fail "$label: man -l does not show the page"
  fi
  if lexgrog "$page" 2>/dev/null | grep -q 'hidlist - list the HID devices'; then
    pass "$label: lexgrog finds its NAME line"
  else
    fail "$label: lexgrog finds no NAME line"
  fi
}

# Runs a Linux program with one empty line as input: it must end with
# status 0 and its output with the prompt and CR LF.
check_runs() { # check_runs LABEL PROGRAM
  local label=$1 program=$2 status
  printf '\n' | "$program" >"$work/run.out" 2>"$work/run.err"
  status=$?
  local prompt=$'Press ENTER to return.........\r\n'
  if ((status == 0)) && tail -c "${#prompt}" "$work/run.out" | cmp -s - <(printf '%s' "$prompt"); then
    pass "$label: runs, exit status 0, output ends with the prompt and CR LF"
  else
    fail "$label: exit status $status; output $(od -c "$work/run.out" | head -n 3)"
  fi
}

has_line() { grep -qxF -- "$2" <<<"$1"; }
all_under() { # all_under FOLDER LINES: every line is FOLDER or inside it
  local line
  while IFS= read -r line; do
    [[ $line == "$1" || $line == "$1/"* ]] || return 1
  done <<<"$2"
}

make_packages() { # make_packages BUILD OUT
  mkdir -p "$2"
  if (cd "$1" && cpack -B "$2") >"$2.log" 2>&1; then
    pass "$1: cpack made the packages"
  else
    fail "$1: cpack failed; its output:"
    sed 's/^/      /' "$2.log"
    find "$2/_CPack_Packages" -name PreinstallOutput.log -exec tail -n 20 {} \; 2>/dev/null |
      sed 's/^/      /'
    return 1
  fi
}

check_linux_build() { # check_linux_build BUILD
  local build=$1 out
  out="$work/$(basename "$1")-packages"
  make_packages "$build" "$out" || return

  local version system arch
  version=$(cpack_var "$build" CPACK_PACKAGE_VERSION)
  system=$(cpack_var "$build" CPACK_SYSTEM_NAME)
  arch=$(dpkg --print-architecture)

  # --- the .deb ---------------------------------------------------------------
  local deb="$out/hidlist_${version}_${arch}.deb"
  if [[ ! -f $deb ]]; then
    fail "$build: no package hidlist_${version}_${arch}.deb; cpack made: $(cd "$out" && ls)"
  else
    pass "$build: made $(basename "$deb")"
    local listing files
    listing=$(dpkg-deb -c "$deb")
    files=$(awk '{print $6}' <<<"$listing")
    check "$(basename "$deb") holds ./usr/bin/hidlist, executable" \
      grep -qE '^-rwxr-xr-x .* \./usr/bin/hidlist$' <<<"$listing"
    if has_line "$files" ./usr/share/man/man1/hidlist.1 ||
      has_line "$files" ./usr/share/man/man1/hidlist.1.gz; then
      pass "$(basename "$deb") holds ./usr/share/man/man1/hidlist.1"
    else
      fail "$(basename "$deb") holds no ./usr/share/man/man1/hidlist.1(.gz)"
    fi
    check "$(basename "$deb") holds ./usr/share/doc/hidlist/LICENSE" \
      has_line "$files" ./usr/share/doc/hidlist/LICENSE

    local field value
    for field in Package Version Architecture Maintainer Section Depends Description; do
      value=$(dpkg-deb -f "$deb" "$field")
      case $field in
        Package) check "control: Package is hidlist" [ "$value" = hidlist ] ;;
        Version) check "control: Version is $version" [ "$value" = "$version" ] ;;
        Architecture) check "control: Architecture is $arch" [ "$value" = "$arch" ] ;;
        Section) check "control: Section is utils" [ "$value" = utils ] ;;
        Depends)
          check "control: Depends names libc6 ($value)" grep -qE '(^|, )libc6( |,|$)' <<<"$value"
          check "control: Depends names libstdc++6" grep -qE '(^|, )libstdc\+\+6( |,|$)' <<<"$value"
          ;;
        *) check "control: $field is set" [ -n "$value" ] ;;
      esac
    done

    # What a user gets from the .deb: the program runs, the page renders
    # and is the project's page.
    local root="$work/deb-root"
    rm -rf "$root"
    if dpkg-deb -x "$deb" "$root"; then
      check_runs "hidlist from the .deb" "$root/usr/bin/hidlist"
      local page="$root/usr/share/man/man1/hidlist.1"
      if [[ -f $page.gz ]]; then
        gzip -dc "$page.gz" >"$work/hidlist.1" && page="$work/hidlist.1"
      fi
      if [[ -f $page ]]; then
        check "the .deb's manual page is docs/hidlist.1" cmp -s "$page" "$source_dir/docs/hidlist.1"
        check_man_page "the .deb's manual page" "$page"
      fi
    else
      fail "dpkg-deb -x $(basename "$deb") failed"
    fi
  fi

  # --- the .tar.gz ------------------------------------------------------------
  local top="hidlist-${version}-${system}"
  local tgz="$out/$top.tar.gz"
  if [[ ! -f $tgz ]]; then
    fail "$build: no package $top.tar.gz; cpack made: $(cd "$out" && ls)"
  else
    pass "$build: made $top.tar.gz"
    local listing files
    listing=$(tar -tzvf "$tgz")
    files=$(tar -tzf "$tgz")
    check "$top.tar.gz holds $top/bin/hidlist, executable" \
      grep -qE "^-rwxr-xr-x .* $top/bin/hidlist\$" <<<"$listing"
    if has_line "$files" "$top/share/man/man1/hidlist.1" ||
      has_line "$files" "$top/share/man/man1/hidlist.1.gz"; then
      pass "$top.tar.gz holds $top/share/man/man1/hidlist.1"
    else
      fail "$top.tar.gz holds no $top/share/man/man1/hidlist.1(.gz)"
    fi
    check "$top.tar.gz holds $top/share/doc/hidlist/LICENSE" \
      has_line "$files" "$top/share/doc/hidlist/LICENSE"
    check "$top.tar.gz has nothing outside $top/" all_under "$top" "$files"
  fi

  # --- cmake --install ----------------------------------------------------------
  local prefix="$work/prefix"
  rm -rf "$prefix"
  if cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    check "cmake --install yields bin/hidlist, executable" test -x "$prefix/bin/hidlist"
    check "cmake --install yields share/man/man1/hidlist.1" \
      test -f "$prefix/share/man/man1/hidlist.1"
    [[ -x $prefix/bin/hidlist ]] && check_runs "the installed hidlist" "$prefix/bin/hidlist"
    [[ -f $prefix/share/man/man1/hidlist.1 ]] &&
      check_man_page "the installed manual page" "$prefix/share/man/man1/hidlist.1"
  else
    fail "cmake --install $build failed:"
    sed 's/^/      /' "$work/install.log"
  fi
}

check_windows_build() { # check_windows_build BUILD
  local build=$1 out
  out="$work/$(basename "$1")-packages"
  make_packages "$build" "$out" || return

  local version system format
  version=$(cpack_var "$build" CPACK_PACKAGE_VERSION)
  system=$(cpack_var "$build" CPACK_SYSTEM_NAME)
  case $system in
    win32) format=pei-i386 ;;
    win64) format=pei-x86-64 ;;
    *)
      fail "$build: CPack system name is '$system', not win32 or win64"
      return
      ;;
  esac
  local top="hidlist-${version}-${system}"
  local zip="$out/$top.zip"
  if [[ ! -f $zip ]]; then
    fail "$build: no package $top.zip; cpack made: $(cd "$out" && ls)"
    return
  fi
  pass "$build: made $top.zip"

  local files expected
  files=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
  expected=$(printf '%s\n' "$top/LICENSE" "$top/README.md" "$top/hidlist.exe" | sort)
  if [[ $files == "$expected" ]]; then
    pass "$top.zip holds hidlist.exe, README.md and LICENSE, and nothing else"
  else
    fail "$top.zip holds: $(tr '\n' ' ' <<<"$files")"
  fi

  local root="$work/$top"
  rm -rf "$root"
  if ! unzip -q "$zip" -d "$work"; then
    fail "unzip $top.zip failed"
    return
  fi
  check "$top.zip: README.md is the project's" cmp -s "$root/README.md" "$source_dir/README.md"
  check "$top.zip: LICENSE is the project's" cmp -s "$root/LICENSE" "$source_dir/LICENSE"
  if [[ -f $root/hidlist.exe ]]; then
    check "$top.zip: hidlist.exe is a $format image" \
      grep -q "file format $format\$" <<<"$(objdump -f "$root/hidlist.exe" 2>&1)"
    # A MinGW runtime DLL the program imports must travel with it.
    local dll missing=()
    while read -r dll; do
      case ${dll,,} in
        lib*.dll) [[ -f $root/$dll ]] || missing+=("$dll") ;;
      esac
    done < <(objdump -p "$root/hidlist.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    if ((${#missing[@]} == 0)); then
      pass "$top.zip: hidlist.exe needs no DLL that the .zip lacks"
    else
      fail "$top.zip: hidlist.exe needs ${missing[*]}, which the .zip lacks"
    fi
  fi
}

if ((${#builds[@]} == 0)); then
  builds=(build/default)
  for build in build/mingw-i686 build/mingw-x86_64; do
    if [[ -d $build ]]; then
      builds+=("$build")
    else
      echo "skip: $build (no such build folder)"
    fi
  done
fi

for build in "${builds[@]}"; do
  echo "== $build"
  if [[ ! -f $build/CPackConfig.cmake ]]; then
    fail "$build: not a configured build folder (no CPackConfig.cmake)"
    continue
  fi
  generators=$(cpack_var "$build" CPACK_GENERATOR)
  case ";$generators;" in
    *";ZIP;"*) check_windows_build "$build" ;;
    *";DEB;"*) check_linux_build "$build" ;;
    *) fail "$build: CPack makes '$generators', neither a .deb nor a .zip" ;;
  esac
done

echo "package_test: $passed passed, $failed failed"
((failed == 0))
