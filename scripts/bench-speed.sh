#!/bin/sh
# SPDX-License-Identifier: MIT
# The speed figures in one run: the search of the generated store of 100,000 messages in 200 folders
# against the floor and mblaze, and the save after the search (eml, txt, msg) against `cp -r` of the store,
# the copies on tmpfs; two rounds of each, the best counts. Builds the benchmarks first (preset dev, which
# is optimised). Extra arguments go to both benchmarks (--store DIR, --threads N, ...).
#
#   scripts/bench-speed.sh [ARGS...]
set -eu
cd "$(dirname "$0")/.."
cmake --preset dev >/dev/null
cmake --build --preset dev --target bench_search bench_save
echo "== uptime: $(uptime)"
build/dev/bench/bench_search --repeat 2 "$@"
echo "== uptime: $(uptime)"
build/dev/bench/bench_save --out /dev/shm --repeat 2 "$@"
echo "== uptime: $(uptime)"
