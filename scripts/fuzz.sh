#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds, starting
# from the seeds and regression inputs kept in tests/fuzz/corpus/<target>/. New inputs found go to
# the build folder, not the repository. Fails on the first crash, leak or hang.
# Usage: scripts/fuzz.sh SECONDS [build-folder]
set -euo pipefail

cd "$(dirname "$0")/.."
seconds="${1:-60}"
build_dir="${2:-build-fuzz}"

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is not installed; skipping the fuzz targets." >&2
    exit 0
fi
if [[ ! -f "$build_dir/build.ninja" ]]; then
    CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKESTRELON_FUZZ=ON >/dev/null
fi
cmake --build "$build_dir" --target fuzz_targets

for target in charset htmltotext typeset ini rules contents gzip; do
    work="$build_dir/corpus/$target"
    mkdir -p "$work"
    echo "== fuzz_$target for ${seconds} s"
    "$build_dir/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=0 -artifact_prefix="$build_dir/fuzz_$target-" \
        "$work" "tests/fuzz/corpus/$target" 2>"$build_dir/fuzz_$target.log" || {
        tail -40 "$build_dir/fuzz_$target.log" >&2
        echo "fuzz: fuzz_$target failed; the input is in $build_dir/fuzz_$target-*" >&2
        exit 1
    }
    grep -E '^Done [0-9]+ runs' "$build_dir/fuzz_$target.log" || true
done
