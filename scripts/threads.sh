#!/usr/bin/env bash
# The thread test of every model under ThreadSanitizer (preset `host-tsan`):
# many instances created, stepped, terminated and freed on several threads at
# once, each checked against the model's equations (tests/ThreadsTest.cpp).
# Any report of ThreadSanitizer fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset host-tsan >/dev/null
cmake --build --preset host-tsan --target slave_tests
# The models of the build, one identifier a line (written when it is configured).
mapfile -t models <build/host-tsan/models.txt
for model in "${models[@]}"; do
    TSAN_OPTIONS="halt_on_error=1 exitcode=66" build/host-tsan/tests/slave_tests \
        "build/host-tsan/$model.so" --gtest_filter='Threads.*' --gtest_brief=1
    echo "thread test $model: passed under ThreadSanitizer"
done
