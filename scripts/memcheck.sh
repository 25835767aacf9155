#!/usr/bin/env bash
# Runs the host test suite of every model's library of every FMI version
# under valgrind's memcheck: no
# invalid read or write, no use of uninitialised memory, no leak. The tests
# free what they deliberately leave in Error themselves, as the master that
# owns the allocator, so any block lost at exit is a real leak.
#
# valgrind's processor emulation ignores the flush-to-zero, denormals-are-zero
# and rounding-mode bits of MXCSR, so the tests of those (suites and tests
# named *FloatingPoint*, and CrossPlatform and the 2.0 and 3.0 comparisons
# with the 1.0 references, which were made under flush-to-zero) are left out
# here; they run natively in every preset.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset host >/dev/null
cmake --build --preset host --target slave_tests
# The suites of each FMI version's library, less those that compare with
# results made under flush-to-zero.
filter_fmi1='-*FloatingPoint*:CrossPlatform.*'
filter_fmi2='Fmi2*-*FloatingPoint*:*Fmi1Reference*'
filter_fmi3='Fmi3*-*FloatingPoint*:*Fmi1Reference*'
# Every model's libraries, the test-only models' too; the build's lists of
# them hold one identifier a line.
mapfile -t models <build/host/models.txt
mapfile -t test_models <build/host/test-models.txt
libraries=()
for model in "${models[@]}"; do
    libraries+=("build/host/$model.so")
done
for model in "${test_models[@]}"; do
    libraries+=("build/host/tests/$model.so")
done
for version in fmi2 fmi3; do
    for model in "${models[@]}" "${test_models[@]}"; do
        libraries+=("build/host/$version/$model.so")
    done
done
logs=build/host/memcheck
mkdir -p "$logs"

run() {
    local library=$1 log name filter=$filter_fmi1
    name=$(basename "$library" .so)
    case $library in
    */fmi2/*) name=$name-fmi2 filter=$filter_fmi2 ;;
    */fmi3/*) name=$name-fmi3 filter=$filter_fmi3 ;;
    esac
    log=$logs/$name.log
    if valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
        --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
        --num-callers=30 build/host/tests/slave_tests "$library" --gtest_filter="$filter" \
        >"$log" 2>&1; then
        echo "memcheck $name:" \
             "$(grep -oE '^\[  PASSED  \] [0-9]+ tests?' "$log" | grep -oE '[0-9]+ tests?') passed," \
             "$(grep -oE 'ERROR SUMMARY: [0-9]+ errors' "$log" | grep -oE '[0-9]+ errors'), no leak"
    else
        cat "$log"
        echo "memcheck $name: FAILED (log: $log)"
        return 1
    fi
}

# Two at a time: valgrind runs each program on one core.
export -f run
export logs filter_fmi1 filter_fmi2 filter_fmi3
printf '%s\n' "${libraries[@]}" | xargs -P 2 -I{} bash -c 'run {}'
