#!/usr/bin/env bash
# Fuzzes call sequences on every model for a while: libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer, checking after every call
# what the slave must have done (fuzz/, driven by fuzz/FuzzSlaves.cpp).
#
#     scripts/fuzz.sh [seconds] [libFuzzer options...]
#
# The seconds default to 60. The seeds in fuzz/corpus stay as they are; what
# the fuzzer finds goes to build/fuzz/corpus, which later runs go on from, and
# an input that breaks an invariant to build/fuzz/artifacts/. Replay one with
#     build/fuzz/fuzz/fuzz_slaves build/fuzz/artifacts/<file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/install-deps.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_slaves fuzz_seeds
mkdir -p build/fuzz/corpus build/fuzz/artifacts
# Leak detection after every input is off: the slaves take all their memory
# from the master's allocator, whose books the target checks itself after
# every input, and LeakSanitizer's scan would cost most of the run. A smaller
# quarantine than AddressSanitizer's default still catches a block touched
# after its release within an input, and keeps long runs small.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64}
# The fuzzer's lines per new input and its dictionary are left out.
set +e
build/fuzz/fuzz/fuzz_slaves build/fuzz/corpus fuzz/corpus \
    -max_total_time="$seconds" -timeout=10 -max_len=4096 -detect_leaks=0 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ "$@" 2>&1 |
    grep --line-buffered -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE)|^[[:space:]]+NEW_FUNC|# Uses: '
status=${PIPESTATUS[0]}
set -e
exit "$status"
