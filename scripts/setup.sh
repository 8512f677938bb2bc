#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking Quillbox needs.
# Safe to run again: it only installs what is missing. Runs as root, or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-l10n-tools  # lupdate, for the translation template
  libgmime-3.0-dev libgsf-1-dev libpff-dev libbfio-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  unrtf mblaze pff-tools
  python3-olefile  # the tests read the compound files we write with it too
)

# Node.js reads our .msg files back in the tests; the machine image may bring its own build of it.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The .msg reader the tests read our .msg files back with.
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ -f "$here/tests/package.json" ] && [ ! -d "$here/tests/node_modules" ]; then
  (cd "$here/tests" && npm ci --no-audit --no-fund --loglevel=error)
fi
echo "setup: ready"
