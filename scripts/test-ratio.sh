#!/usr/bin/env bash
# Prints the share of test code: non-blank, non-comment C++ lines of everything under tests/ (test
# programs, their support, the fuzz harnesses and the test plug-ins) against those of the product,
# which is every other C++ file but the benchmarks (bench/) and the build tools (packaging/'s
# icon renderer; the scripts and CMake files hold no C++).
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    # Lines that hold something besides white space and a // comment.
    xargs -r cat | grep -cvE '^[[:space:]]*(//.*)?$' || true
}

files=$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | while read -r f; do [[ -f $f ]] && echo "$f"; done)
programs=$(grep -E '^tests/tst_[^/]*\.cpp$' <<<"$files" | count)
support=$(grep '^tests/support/' <<<"$files" | count)
fuzz=$(grep '^tests/fuzz/' <<<"$files" | count)
plugins=$(grep '^tests/plugins/' <<<"$files" | count)
tests=$(grep '^tests/' <<<"$files" | count)
other=$((tests - programs - support - fuzz - plugins))
[[ $other -eq 0 ]] && other="" || other=", elsewhere in tests/ $other"
code=$(grep -vE '^(tests|bench)/|^packaging/rendericon\.cpp$' <<<"$files" | count)
echo "tests: $tests lines (programs $programs, support $support, fuzz $fuzz, test plug-ins $plugins$other)"
echo "code: $code lines (without bench/ and build tools)"
printf 'ratio: %d.%d %%\n' $((1000 * tests / code / 10)) $((1000 * tests / code % 10))
