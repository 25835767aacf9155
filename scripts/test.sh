#!/usr/bin/env bash
# Builds every target and runs every test: formatting, the host build, the
# host build under AddressSanitizer and UndefinedBehaviorSanitizer, the 32-bit
# build as a 32-bit program (natively, or under QEMU where the kernel runs
# none), the Windows build under Wine, the 64-bit ARM build under QEMU's
# user-mode emulator (every test once), then the thread test under
# ThreadSanitizer, the host suite under valgrind, a minute of fuzzing the
# slaves and a minute of fuzzing fmirun's readers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "formatting as in .clang-format"

passed=0
failed=0
for preset in host host-sanitize linux32 win64 aarch64; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    if [[ -f build/$preset/linux32-route.txt ]]; then
        cat "build/$preset/linux32-route.txt"
    fi
    log=$(mktemp)
    status=0
    ctest --preset "$preset" 2>&1 | tee "$log" || status=$?
    summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" || true)
    rm -f "$log"
    if [[ $status -ne 0 || -z $summary ]]; then
        echo "ctest failed for preset $preset"
        exit 1
    fi
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
done

# Hardening: the thread test under ThreadSanitizer (one per model), the host
# suite under valgrind's memcheck (one per library), and a short bounded fuzz
# run; each script fails on the first finding.
echo "== thread test under ThreadSanitizer"
scripts/threads.sh
passed=$((passed + 3))
echo "== host suite under valgrind memcheck"
scripts/memcheck.sh
passed=$((passed + 10))
echo "== fuzzing, 60 seconds"
scripts/fuzz.sh 60
passed=$((passed + 1))
echo "== fuzzing fmirun's readers, 20 seconds each"
scripts/fuzz-fmirun.sh 20
passed=$((passed + 4))

echo
echo "total: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
