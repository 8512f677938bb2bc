#!/usr/bin/env bash
# Sets everything up, builds Quillbox and saves every e-mail of the bundled sample store, unattended, into
# ./sample-out: one .msg file per e-mail (the folder is made when missing; a second run replaces the files).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target quillbox

# A profile that opens just the sample store, whatever stores the user's own profile lists or the computer holds.
profile=build/dev/sample-profile.ini
printf '[Options]\nDiscover=0\n[Stores]\nSample Mailbox=%s\n' "$PWD/samples/Sample Mailbox" >"$profile"
QUILLBOX_PROFILE="$profile" build/dev/src/quillbox '\\Sample Mailbox' sample-out /autorun
echo "run-sample: $(find sample-out -maxdepth 1 -name '*.msg' | wc -l) e-mails of \\\\Sample Mailbox saved in $PWD/sample-out/"
