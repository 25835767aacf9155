#!/usr/bin/env bash
# Fuzzes fmirun's readers of a user's files, each for the given time: the
# input CSV, the sweep table, the model description and the .fmu archive
# (fuzz/FuzzFmirun.cpp), libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer.
#
#     scripts/fuzz-fmirun.sh [seconds per reader] [libFuzzer options...]
#
# The seconds default to 20. The seeds in fuzz/fmirun-corpus/<reader> stay as
# they are; what the fuzzer finds goes to build/fuzz/fmirun-corpus/<reader>,
# which later runs go on from, and an input that breaks the reader to
# build/fuzz/artifacts/. Replay one with
#     build/fuzz/fuzz/fuzz_fmirun_<reader> build/fuzz/artifacts/<file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
scripts/install-deps.sh

readers=(inputs sweep description archive)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${readers[@]/#/fuzz_fmirun_}"
mkdir -p build/fuzz/artifacts
for reader in "${readers[@]}"; do
    echo "== fmirun's $reader reader, $seconds seconds"
    mkdir -p "build/fuzz/fmirun-corpus/$reader"
    set +e
    build/fuzz/fuzz/fuzz_fmirun_"$reader" "build/fuzz/fmirun-corpus/$reader" \
        "fuzz/fmirun-corpus/$reader" -max_total_time="$seconds" -timeout=10 -max_len=65536 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ "$@" 2>&1 |
        grep --line-buffered -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE)|^[[:space:]]+NEW_FUNC|# Uses: '
    status=${PIPESTATUS[0]}
    set -e
    ((status == 0)) || exit "$status"
done
