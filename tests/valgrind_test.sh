#!/usr/bin/env bash
# valgrind memcheck over whole runs of the real program: the shipped hidlist
# on this machine, and hidlist_testroot over a fake tree with a device of
# every outcome (tests/with_fake_tree.cpp), in a UTF-8 locale and in the C
# locale (whose charset goes through iconv), and once with standard output on
# /dev/full, the path of the fatal report. Standard input is /dev/null.
# Fails on any memory error and on any leak, of any kind.
#
# Usage: tests/valgrind_test.sh [build-folder]   (default: build/default)
# Needs: valgrind (Debian 12).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
hidlist=$build/app/hidlist
testroot=$build/tests/hidlist_testroot
with_tree=$build/tests/hidlist_with_fake_tree
for program in "$hidlist" "$testroot" "$with_tree"; do
  if [[ ! -x $program ]]; then
    echo "valgrind_test: $program is missing; build $build first" >&2
    exit 2
  fi
done
command -v valgrind >/dev/null || { echo "valgrind_test: valgrind is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=all
          --errors-for-leak-kinds=all --track-origins=yes)

passed=0
failed=0

run_direct() {  # NAME EXPECTED OUTPUT ENV... -- PROGRAM
  local name=$1 expected=$2 output=$3
  shift 3
  local env=()
  while [[ $1 != -- ]]; do env+=("$1"); shift; done
  shift
  local log=$work/$name.log status=0
  env "${env[@]}" "${memcheck[@]}" --log-file="$log" "$@" </dev/null >"$output" \
    2>"$work/$name.err" || status=$?
  report "$name" "$expected" "$status" "$log"
}

run_tree() {  # NAME EXPECTED OUTPUT ENV... : the test build over the fake tree
  local name=$1 expected=$2 output=$3
  shift 3
  local log=$work/$name.log status=0
  env "$@" "$with_tree" "${memcheck[@]}" --log-file="$log" "$testroot" </dev/null >"$output" \
    2>"$work/$name.err" || status=$?
  report "$name" "$expected" "$status" "$log"
}

report() {  # NAME EXPECTED STATUS LOG
  local name=$1 expected=$2 status=$3 log=$4 errors heap
  errors=$(grep -o 'ERROR SUMMARY: .*' "$log" | head -1 || true)
  heap=$(grep -E 'in use at exit|All heap blocks were freed' "$log" | head -1 |
         sed 's/^==[0-9]*== *//' || true)
  if ((status == expected)) && [[ $errors == "ERROR SUMMARY: 0 errors"* ]]; then
    echo "valgrind $name: exit $status, $errors; $heap"
    passed=$((passed + 1))
  else
    echo "valgrind $name: FAILED, exit $status (expected $expected)"
    sed 's/^/  /' "$log"
    sed 's/^/  stderr: /' "$work/$name.err"
    failed=$((failed + 1))
  fi
}

prompt=$'Press ENTER to return.........\r'
check_output() {  # NAME FILE MIN-LINES: the listing ends with the prompt
  local last lines
  last=$(tail -n 1 "$2")
  lines=$(wc -l <"$2")
  if [[ $last != "$prompt" ]] || ((lines < $3)); then
    echo "valgrind $1: unexpected output ($lines lines, last '$last')"
    failed=$((failed + 1))
  fi
}

run_direct hidlist-this-machine 0 "$work/machine.out" LC_ALL=C.UTF-8 -- "$hidlist"
check_output hidlist-this-machine "$work/machine.out" 1

# Eight entries: five devices that open (five lines each), a node that is
# gone, an entry whose device left, and the prompt.
for locale in C.UTF-8 C; do
  run_tree "testroot-$locale" 0 "$work/tree-$locale.out" LC_ALL=$locale
  check_output "testroot-$locale" "$work/tree-$locale.out" 28
done
run_tree testroot-dev-full 1 /dev/full LC_ALL=C.UTF-8
if ! grep -q '^I/O error 112\.' "$work/testroot-dev-full.err"; then
  echo "valgrind testroot-dev-full: no report of I/O error 112 on standard error"
  failed=$((failed + 1))
fi

echo "valgrind: $passed passed, $failed failed"
((failed == 0))
