#!/usr/bin/env bash
# Saves every mail of the bundled sample store and of the PST/OST samples twice, as .msg and as .eml, turns
# each .msg into .eml with Debian's msgconvert (libemail-outlook-message-perl) and compares the two with
# scripts/compare-eml.py: subject, sender and recipients' addresses, body text and attachments (names and
# bytes). A Maildir mail's .eml is its file byte for byte, so for the sample store this compares with the
# source itself; a PST mail's .eml is built from the item's properties by another way than the .msg.
#   scripts/msgconvert-compare.sh [-v]      (-v lists every mail that does not agree, and why)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v msgconvert >/dev/null || { echo "msgconvert is missing (run scripts/setup.sh)" >&2; exit 2; }
quillbox=build/dev/src/quillbox
[ -x "$quillbox" ] || { echo "build first: cmake --build --preset dev" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
profile=$work/profile.ini
{
  echo '[Stores]'
  echo "Sample Mailbox=$PWD/samples/Sample Mailbox"
  for f in tests/data/pst/*.pst tests/data/pst/*.ost; do
    case "$f" in *bad_header*) continue ;; esac
    echo "$(basename "$f")=$PWD/$f"
  done
} >"$profile"

stores=$(sed -n 's/=.*//p' "$profile")
while IFS= read -r store; do
  for type in MSG EML; do
    printf '[Options]\nFnOutput=%s\n' "$type" >"$work/$type.ini"
    QUILLBOX_PROFILE="$profile" "$quillbox" "\\\\$store" "$work/$store/$type" /ini "$work/$type.ini" /autorun \
      2>>"$work/quillbox.log" || true
  done
  for msg in "$work/$store/MSG"/*.msg; do
    [ -e "$msg" ] || continue
    # "./" keeps a name that starts with a blank (a mail without a time) whole: msgconvert's open would trim it.
    (cd "$(dirname "$msg")" && msgconvert "./$(basename "$msg")" 2>>"$work/msgconvert.log") || true
  done
done <<<"$stores"

python3 scripts/compare-eml.py "$@" "$work"/*/
