#!/usr/bin/env bash
# Builds everything: every model for every platform (the three deliverables
# among them), the .fmu archives and the command-line master fmirun. Then runs
# each model's default scenario through fmirun from its FMI 1.0, 2.0 and 3.0
# archives, prints the peak forces of each, and says where everything is.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

for preset in win64 linux32 host; do
    echo "== building $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# The models of the build, one identifier a line (written when it is configured).
mapfile -t models <build/host/models.txt
results=build/host/results
mkdir -p "$results"
echo
echo "Default scenarios through fmirun, in FMI 1.0, 2.0 and 3.0:"
for model in "${models[@]}"; do
    for version in "" -fmi2 -fmi3; do
        echo "-- $model$version.fmu"
        build/host/fmirun "build/host/$model$version.fmu" \
            --output "$results/$model$version.csv" --summary 2>&1
    done
done

echo
echo "The presets, each naming its deliverable:"
cmake --list-presets 2>/dev/null | grep -E '^ +"(win64|linux32|host)" '
echo "FMI 1.0 libraries of every model, the deliverables among them:"
printf '  %-12s %-34s %-34s %s\n' "" "Windows x86-64 DLL" "Linux 32-bit x86 library" \
    "Linux x86-64 library"
for model in "${models[@]}"; do
    printf '  %-12s %-34s %-34s %s\n' "$model" "build/win64/$model.dll" \
        "build/linux32/$model.so" "build/host/$model.so"
done
echo "FMU archives (co-simulation, binaries for 32-bit Linux, 64-bit Linux and 64-bit Windows):"
printf '  %-12s %-34s %-34s %s\n' "" "FMI 1.0" "FMI 2.0" "FMI 3.0"
for model in "${models[@]}"; do
    printf '  %-12s %-34s %-34s %s\n' "$model" "build/host/$model.fmu" \
        "build/host/$model-fmi2.fmu" "build/host/$model-fmi3.fmu"
done
echo "Command-line master:  build/host/fmirun   (build/host/fmirun --help)"
echo "Results (CSV):        $results/<model>.csv, <model>-fmi2.csv, <model>-fmi3.csv"
