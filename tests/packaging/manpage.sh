#!/bin/sh
# manpage.sh PAGE PROGRAM OPTIONS_CPP: the manual page renders without a word on standard error, and names
# every option of the program's usage message and every settings key that OPTIONS_CPP reads.
set -eu
page=$1 program=$2 keys=$3
err=$(mktemp)
trap 'rm -f "$err"' EXIT
text=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings --nh --nj -l "$page" 2>"$err")
if [ -s "$err" ]; then
  echo "man wrote to standard error:" >&2
  cat "$err" >&2
  exit 1
fi
missing=0
for word in $("$program" --help | grep -oE '(--|/)[a-z][a-z-]*' | sort -u) \
  $(grep -oE '\{ u"[A-Za-z]+", &Settings::' "$keys" | cut -d'"' -f2); do
  printf '%s\n' "$text" | grep -qF -- "$word" || { echo "the manual page does not name $word" >&2; missing=1; }
done
exit $missing
