#!/usr/bin/env bash
# Builds the machine a case file describes under ROOT:
#   tree.sh CASE ROOT
# Lines, up to the line "expect":
#   cd PATH           later relative paths are under PATH ("cd" alone: the root)
#   dir PATH          a folder
#   file PATH [TEXT]  a file holding TEXT, with printf %b escapes (\n, \xHH)
#   link PATH TARGET  a symbolic link to TARGET, as written
#   fifo PATH         a named pipe
# Parent folders are made as needed. Other lines (stdin, locale, #...) are
# for the runner.
set -euo pipefail
root=$2 base=
# A folder made once is not made again: the cases' trees are large.
parent() { [ -d "${at%/*}" ] || mkdir -p "${at%/*}"; }
while read -r kind path text && [ "$kind" != expect ]; do
  at=$root/$base$path
  case $kind in
    cd) base=${path:+$path/} ;;
    dir) mkdir -p "$at" ;;
    file) parent && printf '%b' "$text" >"$at" ;;
    link) parent && ln -s "$text" "$at" ;;
    fifo) parent && mkfifo "$at" ;;
  esac
done <"$1"
