#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each on its seed corpus for SECONDS (default 5).
# A finding is written to build-fuzz/findings/<target>/ and ends the script with a failure.
#   scripts/fuzz.sh            every target for 5 seconds (what .ci/run does)
#   scripts/fuzz.sh 3600 fuzz_csv_import    one target for an hour
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/common.sh"
brimlow_install_packages "${BRIMLOW_FUZZ_PACKAGES[@]}"

seconds="${1:-5}"
shift || true
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DBRIMLOW_FUZZ=ON -DBRIMLOW_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzzers
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=($(ls "$root/fuzz/corpus"))
for target in "${targets[@]}"; do
    findings="$build/findings/$target"
    work="$build/corpus/$target" # what the run learns stays out of the repository's seeds
    mkdir -p "$findings" "$work"
    echo "== $target: ${seconds}s"
    "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
        "$work" "$root/fuzz/corpus/$target" 2>&1 | grep -E "^stat::(number_of_executed_units|average_exec_per_sec)|ERROR|SUMMARY"
done
