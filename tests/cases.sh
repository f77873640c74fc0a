#!/usr/bin/env bash
# Runs the program over the machine each case file describes and compares
# what it prints with the case's expected bytes:
#   cases.sh PROGRAM CASE...
# A case holds the tree (tree.sh), optionally "stdin TEXT" (printf %b; one
# empty line when not given) and "locale [VARIABLE=VALUE...]", the only
# locale variables the program sees (LC_ALL=C.UTF-8 when not given), then
# "expect" and the exact standard output, each line ending CR LF. The run
# must end with status 0 and nothing on standard error.
# HIDLIST_WRAPPER, when set, goes before the program (valgrind, say).
set -uo pipefail
source "$(dirname "$0")/helpers.sh"
program=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for case in "$@"; do
  rm -rf "$work/root" && mkdir "$work/root" && "$(dirname "$0")/tree.sh" "$case" "$work/root"
  stdin='\n' locale=LC_ALL=C.UTF-8
  while read -r key value; do
    [[ $key == stdin || $key == locale ]] && printf -v "$key" %s "$value"
  done < <(sed '/^expect$/q' "$case")
  expected_output "$case" >"$work/expected"
  # The words of $locale are assignments of their own.
  env -u LC_ALL -u LC_CTYPE -u LANG HIDLIST_ROOT="$work/root/" $locale \
    ${HIDLIST_WRAPPER:-} "$program" < <(printf '%b' "$stdin") >"$work/out" 2>"$work/err"
  status=$?
  if [ $status != 0 ] || [ -s "$work/err" ] || ! cmp -s "$work/expected" "$work/out"; then
    echo "FAIL $case: status $status"
    cat "$work/err"
    diff <(cat -A "$work/expected") <(cat -A "$work/out")
    failed=1
  fi
done
exit $failed
