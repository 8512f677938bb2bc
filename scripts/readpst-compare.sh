#!/usr/bin/env bash
# Saves every mail of the PST/OST samples as .msg, has readpst (Debian's pst-utils, an independent reader of
# the same files) write its own .msg of each (readpst -m), and compares the two property sets mail by mail
# with scripts/compare-msgprops.py: every property readpst writes that our .msg lacks is listed, with whether
# the store gives us its data.
#   scripts/readpst-compare.sh [-v]      (-v names the mails that lack each property)
#   KEEP=1 scripts/readpst-compare.sh    keeps the files it wrote, and says where
set -euo pipefail
cd "$(dirname "$0")/.."
command -v readpst >/dev/null || { echo "readpst is missing (run scripts/setup.sh)" >&2; exit 2; }
quillbox=build/dev/src/quillbox
[ -x "$quillbox" ] || { echo "build first: cmake --build --preset dev" >&2; exit 2; }

work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
[ -z "${KEEP:-}" ] || echo "the files are kept in $work" >&2
profile=$work/profile.ini
echo '[Stores]' >"$profile"
for f in tests/data/pst/*.pst tests/data/pst/*.ost; do
  case "$f" in *bad_header*) continue ;; esac
  store=$(basename "$f")
  echo "$store=$PWD/$f" >>"$profile"
  mkdir -p "$work/$store/readpst"
  readpst -m -q -o "$work/$store/readpst" "$f" >/dev/null 2>>"$work/readpst.log" || true
  printf '[Options]\nFnOutput=MSG\nUseFnFolder=1\n' >"$work/msg.ini"
  QUILLBOX_PROFILE="$profile" "$quillbox" "\\\\$store" "$work/$store/ours" /ini "$work/msg.ini" /autorun \
    2>>"$work/quillbox.log" || true
done

/usr/bin/python3 scripts/compare-msgprops.py "$@" "$work"/*/
