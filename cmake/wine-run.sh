#!/bin/sh
# Runs a Windows program under Wine for the cross builds' tests:
#   wine-run.sh LOADER PROGRAM [ARGUMENT...]
#   wine-run.sh LOADER wineserver [ARGUMENT...]   (the prefix's server, e.g. -w)
# LOADER is the Wine loader of the program's architecture (the i386 one for
# 32-bit programs, the amd64 one for 64-bit programs). WINEPREFIX must be set:
# a test never touches the user's own prefix. Wine stays quiet (WINEDEBUG=-all
# unless set), headless (no display) and offers no Mono or Gecko install.
#
# Says why, and exits with 77, when the loader cannot execute on this
# machine (for example an i386 loader on a kernel without 32-bit support and
# without an emulator registered for it).
set -u

if [ "$#" -lt 2 ]; then
  echo "usage: wine-run.sh LOADER PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
loader=$1
shift

if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run.sh: WINEPREFIX is not set; refusing to use the default prefix" >&2
  exit 2
fi

if [ ! -x "$loader" ]; then
  echo "wine-run.sh: the Wine loader $loader is not installed" >&2
  exit 77
fi
if ! probe=$("$loader" --version 2>&1); then
  echo "wine-run.sh: the Wine loader $loader cannot execute on this machine: $probe" >&2
  echo "wine-run.sh: (a kernel without 32-bit x86 support runs the i386 loader only through" \
    "qemu-i386 registered for i386 ELF files in binfmt_misc; scripts/check sets that up)" >&2
  exit 77
fi

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Processes that Wine starts for the prefix use the same loader.
export WINELOADER="$loader"
unset DISPLAY WAYLAND_DISPLAY

if [ "$1" = wineserver ]; then
  shift
  server=$(dirname "$loader")/wineserver
  [ -x "$server" ] || server=wineserver
  exec "$server" "$@"
fi
exec "$loader" "$@"
