#!/usr/bin/env bash
# Builds a model's FMI 3.0 library from the source code its archive carries,
# with the one plain command of the README and the archive's page, in a
# folder of its own (so that no header from elsewhere can be found), then
# runs the model's tests against the result as a master loads it.
#
#   check_sources.sh <archive.fmu | sources folder> <model identifier> <readelf>
#                    "<compiler command>" <test program command>...
#
# The compiler options are those of sources/buildDescription.xml.
set -euo pipefail

from=$1 identifier=$2 readelf=$3 compiler=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ -d $from ]]; then
    cp -r "$from/sources" "$work/"
else
    unzip -q "$from" 'sources/*' -d "$work"
fi
cd "$work/sources"
options=$(sed -n 's/.*compilerOptions="\([^"]*\)".*/\1/p' buildDescription.xml)
# shellcheck disable=SC2086 # the compiler command and the options are word lists
$compiler -std=c++17 -O2 -shared -fPIC $options -DMODEL_IDENTIFIER="$identifier" \
    -Iruntime/core -Iruntime/fmi3 runtime/core/*.cpp runtime/fmi3/*.cpp models/*/*.cpp \
    -o "$identifier.so"
# Linked by the C++ driver, the library may list libstdc++ among what it
# needs, but nothing in it may refer to the C++ runtime.
undefined=$("$readelf" --dyn-syms -W "$identifier.so" | awk 'NR > 3 && $7 == "UND" {print $8}')
if grep -v '^__cxa_finalize@' <<<"$undefined" | grep -E '__cxa|__gxx|_Unwind|^_Z'; then
    echo "FAIL: $identifier.so refers to the C++ runtime"
    exit 1
fi
"$@" "$work/sources/$identifier.so"
