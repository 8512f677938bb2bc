#!/usr/bin/env bash
# Sets everything up, builds Quillbox and runs every test.
#   scripts/test.sh          the normal build (build/dev)
#   scripts/test.sh --asan   the same tests built with AddressSanitizer and UBSan (build/asan)
set -euo pipefail
cd "$(dirname "$0")/.."

preset=dev
[ "${1:-}" = "--asan" ] && preset=dev-asan

scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --preset "$preset"
