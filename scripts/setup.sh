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
  libetpan-dev libgnutls28-dev libsecret-1-dev  # IMAP accounts: the IMAP library, certificate checks, passwords
  gnome-keyring dbus-daemon  # a private Secret Service for the test of the keyring
  dovecot-imapd isync openssl  # the tests' own IMAP server and its certificate; mbsync for the benchmark
  python3-olefile  # the tests read the compound files we write with it too
  # the manual page, and the checks of what a Linux system reads beside the program
  scdoc man-db desktop-file-utils appstream systemd
  # the Debian package: CPack's dependency list, and lintian (scripts/test-deb.sh)
  dpkg-dev file lintian
  poppler-utils  # pdftotext reads the saved PDF files back in the tests
  fonts-noto-cjk  # Chinese, Japanese and Korean text in saved PDF files (fonts-noto-core, which would also
                  # do for other scripts, makes Noto Sans the desktop's font and the widget tests measure DejaVu)
  libemail-outlook-message-perl  # msgconvert: scripts/msgconvert-compare.sh turns our .msg files into .eml
  pst-utils  # readpst: scripts/readpst-compare.sh compares its .msg files of the PST samples with ours
  git  # git mailsplit, the peer bench_mbox times the .eml save against
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
