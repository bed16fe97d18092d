#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while on its seed corpus.
#   fuzz/run.sh [seconds per target, default 30] [target ...]
# Targets: mmc_parsers, scenario. New corpus entries stay in build-fuzz/corpus/,
# findings land in build-fuzz/findings/<target>/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-${FUZZ_SECONDS:-30}}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(mmc_parsers scenario)

# Warnings are gated by the gcc build; clang's extra ones must not stop fuzzing.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBLANKORA_WERROR=OFF -DBLANKORA_FUZZ=ON -DBLANKORA_TESTS=OFF -DBLANKORA_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$corpus" "$findings"
    dict=()
    [ -f "$root/fuzz/$target.dict" ] && dict=(-dict="$root/fuzz/$target.dict")
    echo "== $target: ${seconds}s"
    # The scenario loader resolves relative image paths and creates drive
    # directories: keep both in scratch places that an aborted run may litter.
    mkdir -p "$build/tmp"
    (cd "$findings" && TMPDIR="$build/tmp" "$build/bin/fuzz_$target" \
        "$corpus" "$root/fuzz/corpus/$target" "${dict[@]}" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings/" -print_final_stats=1) || status=1
done
exit $status
