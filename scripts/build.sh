#!/usr/bin/env bash
# Builds everything: every model for every platform (the three deliverables
# among them), the .fmu archives and the command-line master fmirun. Then runs
# each model's default scenario through fmirun, prints the peak forces, and
# says where everything is.
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
echo "Default scenarios through fmirun:"
for model in Halvorn Pendrake Corvessa; do
    build/host/fmirun "build/host/$model.fmu" --output "$results/$model.csv" --summary 2>&1
done

echo
echo "Deliverables:"
echo "  Halvorn   (Windows x86-64 DLL)           build/win64/Halvorn.dll"
echo "  Pendrake  (Linux 32-bit x86 library)     build/linux32/Pendrake.so"
echo "  Corvessa  (Linux x86-64 library)         build/host/Corvessa.so"
echo "FMU archives (FMI 1.0 co-simulation, binaries for linux32, linux64 and win64):"
echo "  build/host/Halvorn.fmu  build/host/Pendrake.fmu  build/host/Corvessa.fmu"
echo "Command-line master:  build/host/fmirun   (build/host/fmirun --help)"
echo "Results (CSV):        $results/Halvorn.csv  $results/Pendrake.csv  $results/Corvessa.csv"
