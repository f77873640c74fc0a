#!/usr/bin/env bash
# ConsoleText's conversion and the fatal report on Windows, under Wine, with no
# device: each row of the table runs the program (tests/wide_units.cpp) under
# a name, with a system locale (LC_CTYPE) and a thread locale (LC_MESSAGES),
# on the UTF-16 units of a text; its status and what it writes to standard
# output and standard error (on a terminal: what the terminal shows) must
# come out exactly, the report's position masked. The locales are compiled
# into the folder LOCPATH names.
#   wine_text.sh TABLE LOCALES WINE-RUNNER... PROGRAM
set -uo pipefail
source "$(dirname "$0")/helpers.sh"
export LC_ALL=C LOCPATH=$2
table=$1 && mkdir -p "$LOCPATH"
shift 2
wine=("${@:1:$#-1}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Wine says it is Windows 98 to a program of this name only.
"${wine[@]}" reg add 'HKCU\Software\Wine\AppDefaults\units98.exe' /v Version /d win98 /f >/dev/null
failed=0
while read -r name system thread out status text; do
  [[ -z $name || $name == \#* ]] && continue
  for locale in "$system" "$thread"; do
    [ -d "$LOCPATH/$locale.UTF-8" ] || localedef -i "$locale" -f UTF-8 "$LOCPATH/$locale.UTF-8" || failed=1
  done
  cp "${!#}" "$work/$name" && : >"$work/out" && [ "$out" = - ] && out=$work/out
  units=$(printf %s "${text% => *}" | iconv -f UTF-8 -t UTF-16LE | od -An -tx2)
  command=("${wine[@]}" "$work/$name" $units)
  if [[ $out == tty:* ]]; then  # a console whose code page Wine's cmd set with chcp first
    command=("${wine[@]}" cmd /c "chcp ${out#tty:} >nul & Z:${work//\//\\}\\$name" $units)
  fi
  if [[ $out == tty* ]]; then  # standard output on a terminal: what it shows is checked
    command=(script -qfec "$(printf '%q ' "${command[@]}")" /dev/null)
    out=$work/terminal
  fi
  LANG= LC_ALL= LC_CTYPE=$system.UTF-8 LC_MESSAGES=$thread.UTF-8 "${command[@]}" \
    </dev/null >"$out" 2>"$work/err"
  got=$?
  [ "$out" = "$work/terminal" ] && terminal_text <"$out" >"$work/out"
  if [ $got != "$status" ] || ! cmp -s <(printf %b "${text#* => }") \
    <(cat "$work/out" "$work/err" | mask_position); then
    echo "FAIL $name $system $thread: status $got"
    cat -A "$work/out" "$work/err"
    failed=1
  fi
done <"$table"
exit $failed
