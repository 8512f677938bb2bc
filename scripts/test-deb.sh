#!/usr/bin/env bash
# Builds the Debian package (quillbox_<version>_<arch>.deb) from the dev build, checks it with lintian, installs it
# with apt-get and runs the installed program: --version, and the bundled sample store saved unattended.
# It installs the package system-wide, so CI runs it on its throwaway machine (.ci/run); it refuses to run
# elsewhere unless CI=true is set.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${CI:-}" != "true" ]; then
  echo "test-deb: installs quillbox system-wide; run it with CI=true on a machine where that is fine" >&2
  exit 2
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The dev build (optimised, with debugging information that CPack strips), so that CI builds once.
build=build/dev
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
rm -f "$build"/quillbox_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/quillbox_*.deb)
dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends):'

start=$SECONDS
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "test-deb: lintian passed in $((SECONDS - start)) s"

DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null
quillbox --version

# The installed program with nothing of the user's: no profile and no mail to find, so it uses the
# bundled sample store, found beside the installed executable.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
env -i PATH=/usr/bin:/bin HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" \
  quillbox '\\Sample Mailbox' "$scratch/out" --autorun
saved=$(find "$scratch/out" -maxdepth 1 -name '*.msg' | wc -l)
[ "$saved" -gt 0 ] || { echo "test-deb: the installed program saved no e-mail" >&2; exit 1; }
echo "test-deb: the installed program saved $saved e-mails of \\\\Sample Mailbox"
