#!/usr/bin/env bash
# Line and branch coverage of runtime/ and models/ by the host test suite of
# every model, with gcov's counters (preset `coverage`) and lcov.
#
#     scripts/coverage.sh
#
# Prints the table per file and writes the annotated sources to
# build/coverage/report/index.html. Exits non-zero if a test failed, after
# writing the report all the same.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset coverage >/dev/null
cmake --build --preset coverage
dir=build/coverage
# Counters of an earlier run would add up with this one's.
find "$dir" -name '*.gcda' -delete
status=0
ctest --preset coverage || status=$?

branches=(--rc lcov_branch_coverage=1)
lcov --quiet "${branches[@]}" --capture --directory "$dir" --base-directory . \
    --output-file "$dir/everything.info"
lcov --quiet "${branches[@]}" --extract "$dir/everything.info" "$PWD/runtime/*" "$PWD/models/*" \
    --output-file "$dir/slaves.info"
genhtml --quiet --branch-coverage --prefix "$PWD" --output-directory "$dir/report" \
    "$dir/slaves.info"
echo
lcov "${branches[@]}" --list "$dir/slaves.info"
echo
echo "Annotated sources: $dir/report/index.html"
if [[ $status -ne 0 ]]; then
    echo "coverage: some tests failed"
fi
exit "$status"
