#!/usr/bin/env bash
# Builds the three deliverables, each for its own platform, and says where
# they are.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

declare -A deliverable=([win64]=Halvorn [linux32]=Pendrake [host]=Corvessa)
for preset in win64 linux32 host; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target "${deliverable[$preset]}"
done

echo
echo "Deliverables:"
echo "  Halvorn   (Windows x86-64 DLL)           build/win64/Halvorn.dll"
echo "  Pendrake  (Linux 32-bit x86 library)     build/linux32/Pendrake.so"
echo "  Corvessa  (Linux x86-64 library)         build/host/Corvessa.so"
