#!/usr/bin/env bash
# The real program as users and scripts run it, with its standard streams on
# files, pipes, /dev/full, a folder, closed, or a console:
#   e2e.sh CASE PROGRAM [ARGUMENT...]
# Natively the program lists the tree of the case file (tree.sh); a Windows
# program (the last argument ends in .exe) runs under Wine and lists Wine's
# own devices, which its case gives. Either way the case's listing must come
# out exactly, and a failure must end with status 1 and the report, whose
# code differs where Wine's streams fail otherwise than Linux's.
set -uo pipefail
source "$(dirname "$0")/helpers.sh"
case_file=$1
shift
program=("$@")
file=${!#}
module=$(basename "$file")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/root" && "$(dirname "$0")/tree.sh" "$case_file" "$work/root"
export HIDLIST_ROOT=$work/root/
expected_output "$case_file" >"$work/listing"
printf '\n' >"$work/enter" && printf '%5000s\nrest\n' >"$work/long" && exec 8<"$work/long"
# A pipe whose reader has gone.
mkfifo "$work/pipe" && exec 5<>"$work/pipe" 6>"$work/pipe" 5<&-
failed=0
nonblocking="perl -MFcntl -e 'fcntl(STDIN, F_SETFL, O_NONBLOCK) or die; exec @ARGV'"

row() {  # REDIRECTIONS EXPECTED-OUTPUT LINUX-CODE WINE-CODE [COMMAND-BEFORE]
  local code=$3 report=
  [[ $module == *.exe ]] && code=$4
  [ "$code" = 0 ] || report=$(printf 'Exception EInOutError in module %s at XXXXXXXX.\r\nI/O error %s.\r\n\r\n' "$module" "$code")
  : >"$work/out"
  eval "${5:-}" '"${program[@]}"' "$1" 2>"$work/err"
  local status=$? position
  # The position is counted from the start of the program's image.
  position=$(sed -nE 's/.* at ([0-9A-F]{8})\.\r$/\1/p' "$work/err")
  if [ $status != $((code != 0)) ] || ! cmp -s "$2" "$work/out" ||
    [ "$(mask_position <"$work/err")" != "$report" ] ||
    ((0x${position:-0} >= $(stat -c %s "$file"))); then
    echo "FAIL $1: status $status, expected code $code"
    cat -A "$work/err" "$work/out"
    failed=1
  fi
}

#   standard streams                    output            Linux  Wine
row '<"$work/enter" >"$work/out"'       "$work/listing"   0      0
row '<"$work/enter" | cat >"$work/out"' "$work/listing"   0      0
row '<"$work/enter" >/dev/full'         /dev/null         112    112
row '<"$work/enter" >&-'                /dev/null         105    6
row '<&- >"$work/out"'                  "$work/listing"   104    1
row '<"$work" >"$work/out"'             "$work/listing"   1      1
row '<"$work/enter" >&6'                /dev/null         232    233
# A first line longer than one read is read to its end: nothing is left.
row '<&8 >"$work/out"; cat <&8 >>"$work/out"' "$work/listing" 0 0
# Standard input inherited non-blocking, its line still to come: a wait.
row '< <(sleep 0.3; echo) >"$work/out"' "$work/listing" 0      0    "$nonblocking"

# On a console every statement is written at once: the prompt shows before
# anything is typed. Then Enter (CR) ends the run, and the terminal shows the
# listing and the typed line.
mkfifo "$work/keys"
script -qfec "$(printf '%q ' "${program[@]}")" /dev/null <"$work/keys" >"$work/out" 2>&1 &
exec 7>"$work/keys"
timeout 10 sh -c "until grep -q 'Press ENTER' '$work/out'; do sleep 0.1; done" ||
  { echo "FAIL console: no prompt before input"; failed=1; }
printf '\r' >&7
exec 7>&-
wait $! || { echo "FAIL console: status $?"; failed=1; }
if ! cmp -s <(tr -d '\r' <"$work/listing"; echo) <(terminal_text <"$work/out"); then
  echo "FAIL console: the terminal shows"
  cat -A "$work/out"
  failed=1
fi
exit $failed
