#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and UBSan) in build/fuzz and runs each for
# MINUTES minutes (5 by default) on a copy of its seed corpus. An input that makes a target fail is kept in
# fuzz/crashes/<target>/, where the test Fuzz.<target> replays it from then on.
#   scripts/fuzz.sh [MINUTES] [TARGET...]     no TARGET: every fuzz target
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=5
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  minutes=$1
  shift
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

CXX=clang++ CC=clang cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_FUZZERS=ON \
  -DQUILLBOX_SANITIZE=ON -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  crashes=fuzz/crashes/$target
  mkdir -p "$corpus" "$crashes"
  cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "== $target: $minutes minute(s)"
  rc=0
  build/fuzz/fuzz/"$target" -max_total_time=$((minutes * 60)) -artifact_prefix="$crashes/" -print_final_stats=1 \
    "$corpus" >"build/fuzz/$target.log" 2>&1 || rc=$?
  grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|SUMMARY)' "build/fuzz/$target.log" || true
  if [ $rc -ne 0 ]; then
    echo "$target failed; the input is in $crashes/ (log: build/fuzz/$target.log)"
    status=1
  fi
done
exit $status
