#!/usr/bin/env bash
# Prints the share of test code: non-blank, non-comment C++ lines under tests/ against those of
# every other C++ file of the repository.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    # Lines that hold something besides white space and a // comment.
    xargs -r cat | grep -cvE '^[[:space:]]*(//.*)?$' || true
}

files=$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | while read -r f; do [[ -f $f ]] && echo "$f"; done)
tests=$(grep '^tests/' <<<"$files" | count)
code=$(grep -v '^tests/' <<<"$files" | count)
echo "tests: $tests lines, code: $code lines, ratio: $((100 * tests / code)) %"
