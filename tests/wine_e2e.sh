#!/bin/bash
# The real program under Wine, end to end:
#   wine_e2e.sh RUN WORK_DIR PROGRAM EMULATOR...
# RUN is one of
#   listing        standard input from /dev/null and from a file, standard
#                  output to a file: the listing's structure and formats, CR
#                  LF line ends, the prompt last, exit status 0, nothing on
#                  standard error; the same bytes for both inputs
#   file_and_pipe  the same bytes to a file and to a pipe
#   disk_full      standard output to /dev/full: the fatal report on standard
#                  error and exit status 1
# EMULATOR is the command that runs PROGRAM (cmake/wine-run.sh and its
# loader). Wine's devices differ from one machine and version to the next,
# so the device lines are checked for their form only.
set -u -o pipefail

SKIP_STATUS=77

if [ "$#" -lt 4 ]; then
  echo "usage: wine_e2e.sh RUN WORK_DIR PROGRAM EMULATOR..." >&2
  exit 2
fi
run=$1
work=$2
program=$3
shift 3
emulator=("$@")

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work"

# Runs the program; its standard streams are set up by the caller. The
# emulator's skip status passes straight through.
run_program() {
  "${emulator[@]}" "$program"
}

# The status of a run, ending the script as skipped when the emulator could
# not run the program at all.
check_skip() {
  local status=$1 errors=$2
  if [ "$status" -eq "$SKIP_STATUS" ]; then
    cat "$errors" >&2
    exit "$SKIP_STATUS"
  fi
}

# Shows a file with its line ends visible, for the log.
show() {
  echo "--- $1 ($(wc -c <"$2") bytes):"
  cat -A "$2"
  echo "---"
}

# Every line ends with CR LF, including the last one.
check_crlf() {
  local file=$1
  local bytes lf crlf
  bytes=$(wc -c <"$file")
  lf=$(tr -cd '\n' <"$file" | wc -c)
  crlf=$(grep -c $'\r$' "$file" || true)
  [ "$bytes" -gt 0 ] || { fail "$file is empty"; return; }
  [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' \n')" = "0d0a" ] ||
    fail "$file does not end with CR LF"
  [ "$lf" -eq "$crlf" ] || fail "$file has $lf line feeds but $crlf CR LF line ends"
}

# The listing's structure: device blocks of five lines or one-line outcomes,
# then the prompt as the last line.
check_listing() {
  local file=$1
  check_crlf "$file"
  local report
  report=$(sed 's/\r$//' "$file" | awk '
    function bad(message) { print "line " NR ": " message ": [" $0 "]"; errors++ }
    {
      if (state == "after_prompt") { bad("text after the prompt"); next }
      if (state == "vendor_string") { state = "product"; next }
      if (state == "product") {
        if ($0 !~ /^PID: [0-9A-F][0-9A-F][0-9A-F][0-9A-F]$/) bad("expected PID: XXXX")
        state = "product_string"; next
      }
      if (state == "product_string") { state = "version"; next }
      if (state == "version") {
        if ($0 !~ /^VersionNumber:[0-9A-F][0-9A-F][0-9A-F][0-9A-F]$/) bad("expected VersionNumber:XXXX")
        state = ""; devices++; next
      }
      if ($0 ~ /^VID: [0-9A-F][0-9A-F][0-9A-F][0-9A-F]$/) { state = "vendor_string"; next }
      if ($0 == "System input HID detected") { outcomes++; next }
      if ($0 == "Could not find the system name for this HID device") { outcomes++; next }
      if ($0 == "Press ENTER to return.........") { state = "after_prompt"; next }
      bad("not a line of the listing")
    }
    END {
      if (state != "after_prompt") { print "the prompt is not the last line (state " state ")"; errors++ }
      print "devices=" devices + 0 " outcomes=" outcomes + 0 " errors=" errors + 0
    }')
  echo "$report"
  case "$report" in
    *"errors=0") ;;
    *) fail "the listing in $file is not well formed" ;;
  esac
}

case "$run" in
  listing)
    run_program </dev/null >"$work/out_null" 2>"$work/err_null"
    status=$?
    check_skip "$status" "$work/err_null"
    show "standard output, input from /dev/null" "$work/out_null"
    [ "$status" -eq 0 ] || fail "exit status $status with input from /dev/null"
    [ ! -s "$work/err_null" ] || { show "standard error" "$work/err_null"; fail "standard error is not empty"; }
    check_listing "$work/out_null"

    printf '\r\nmore input that is never read\r\n' >"$work/in_file"
    run_program <"$work/in_file" >"$work/out_file" 2>"$work/err_file"
    status=$?
    check_skip "$status" "$work/err_file"
    [ "$status" -eq 0 ] || fail "exit status $status with input from a file"
    [ ! -s "$work/err_file" ] || { show "standard error" "$work/err_file"; fail "standard error is not empty"; }
    cmp -s "$work/out_null" "$work/out_file" || fail "output differs between the two inputs"
    ;;

  file_and_pipe)
    run_program </dev/null >"$work/to_file" 2>"$work/err_file"
    status=$?
    check_skip "$status" "$work/err_file"
    [ "$status" -eq 0 ] || fail "exit status $status writing to a file"
    run_program </dev/null 2>"$work/err_pipe" | cat >"$work/to_pipe"
    statuses=("${PIPESTATUS[@]}")
    check_skip "${statuses[0]}" "$work/err_pipe"
    [ "${statuses[0]}" -eq 0 ] || fail "exit status ${statuses[0]} writing to a pipe"
    show "to a file" "$work/to_file"
    show "to a pipe" "$work/to_pipe"
    check_listing "$work/to_file"
    cmp "$work/to_file" "$work/to_pipe" || fail "a file and a pipe receive different bytes"
    ;;

  disk_full)
    run_program </dev/null >/dev/full 2>"$work/err_full"
    status=$?
    check_skip "$status" "$work/err_full"
    show "standard error, output to /dev/full" "$work/err_full"
    [ "$status" -eq 1 ] || fail "exit status $status, not 1"
    # The report, then the empty line written after it.
    pattern=$'^Exception EInOutError in module hidlist\\.exe at [0-9A-F]{8}\\.\r\nI/O error 112\\.\r\n\r\n$'
    report=$(cat "$work/err_full"; echo x)
    report=${report%x}
    [[ "$report" =~ $pattern ]] || fail "standard error is not the fatal report of I/O error 112"
    ;;

  *)
    echo "wine_e2e.sh: unknown run $run" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$run: $failures check(s) failed" >&2
  exit 1
fi
echo "$run: all checks passed"
