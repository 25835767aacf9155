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

results=build/host/results
mkdir -p "$results"
echo
echo "Default scenarios through fmirun, in FMI 1.0, 2.0 and 3.0:"
for model in Halvorn Pendrake Corvessa; do
    for version in "" -fmi2 -fmi3; do
        echo "-- $model$version.fmu"
        build/host/fmirun "build/host/$model$version.fmu" \
            --output "$results/$model$version.csv" --summary 2>&1
    done
done

echo
echo "Deliverables:"
echo "  Halvorn   (Windows x86-64 DLL)           build/win64/Halvorn.dll"
echo "  Pendrake  (Linux 32-bit x86 library)     build/linux32/Pendrake.so"
echo "  Corvessa  (Linux x86-64 library)         build/host/Corvessa.so"
echo "FMU archives (co-simulation, binaries for 32-bit Linux, 64-bit Linux and 64-bit Windows):"
echo "  FMI 1.0  build/host/Halvorn.fmu       build/host/Pendrake.fmu       build/host/Corvessa.fmu"
echo "  FMI 2.0  build/host/Halvorn-fmi2.fmu  build/host/Pendrake-fmi2.fmu  build/host/Corvessa-fmi2.fmu"
echo "  FMI 3.0  build/host/Halvorn-fmi3.fmu  build/host/Pendrake-fmi3.fmu  build/host/Corvessa-fmi3.fmu"
echo "Command-line master:  build/host/fmirun   (build/host/fmirun --help)"
echo "Results (CSV):        $results/<model>.csv, <model>-fmi2.csv, <model>-fmi3.csv"
