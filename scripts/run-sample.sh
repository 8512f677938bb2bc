#!/usr/bin/env bash
# Sets everything up, builds Quillbox and runs it on the bundled sample store.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target quillbox
build/dev/src/quillbox --help
