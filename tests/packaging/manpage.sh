#!/bin/sh
# manpage.sh PAGE PROGRAM: the manual page renders without a word on standard error, and names every option
# of the program's usage message.
set -eu
page=$1 program=$2
err=$(mktemp)
trap 'rm -f "$err"' EXIT
text=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings --nh --nj -l "$page" 2>"$err")
if [ -s "$err" ]; then
  echo "man wrote to standard error:" >&2
  cat "$err" >&2
  exit 1
fi
missing=0
for option in $("$program" --help | grep -oE '(--|/)[a-z][a-z-]*' | sort -u); do
  printf '%s\n' "$text" | grep -qF -- "$option" || { echo "the manual page does not name $option" >&2; missing=1; }
done
exit $missing
