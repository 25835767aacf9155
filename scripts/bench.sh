#!/usr/bin/env bash
# Builds the host preset and runs the benchmarks of every model's host
# builds of every FMI version against the floor (see docs/performance.md). With no arguments each
# benchmark runs five times for a tenth of a second, the repetitions of all
# benchmarks shuffled together so that a busy spell of the machine does not
# fall on every repetition of one benchmark, and only the statistics are
# shown; any arguments replace these defaults and go to Google Benchmark as
# they are, for example:
#
#   scripts/bench.sh --benchmark_filter='/(floor|fmiDoStep)$'   (the step and floor of every model)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset host >/dev/null
cmake --build --preset host --target slave_bench >/dev/null
if (($# == 0)); then
    set -- --benchmark_min_time=0.1 --benchmark_repetitions=5 \
        --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
fi
exec build/host/bench/slave_bench "$@"
