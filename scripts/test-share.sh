#!/usr/bin/env bash
# Prints how much of the C++ is tests: lines of the git-tracked .cpp/.h files under tests/ against those
# under src/, bench/, fuzz/ and samples/. Fails when tests are outside 28%..36% of the whole.
set -euo pipefail
cd "$(dirname "$0")/.."

lines() {
  local globs=()
  for dir in "$@"; do globs+=("$dir/*.cpp" "$dir/*.h"); done
  git ls-files -z -- "${globs[@]}" | xargs -0r cat | wc -l
}

tests=$(lines tests)
code=$(lines src bench fuzz samples)
percent=$((1000 * tests / (tests + code)))
echo "test-share: tests $tests lines, code $code lines, tests are $((percent / 10)).$((percent % 10))%"
((percent >= 280 && percent <= 360)) || { echo "test-share: outside 28%..36%" >&2; exit 1; }
