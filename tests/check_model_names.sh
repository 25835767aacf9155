#!/bin/bash
# check_model_names.sh SOURCE_DIR IDENTIFIER...
#
# The shared code learns every model from its definition and names none: a
# model added through its own files must reach the runtime, the tools, the
# fuzz target, the benchmarks and the scripts without an edit there. Fails
# naming each file and line that names one of the given models. The fuzz
# seeds are left out: they are inputs written from the models, not code.
set -u
cd "$1" || exit 2
shift
status=0
for identifier in "$@"; do
    if grep -rnI --exclude-dir=corpus --exclude-dir=fmirun-corpus -e "$identifier" \
        runtime tools fuzz bench scripts; then
        status=1
    fi
done
if [ "$status" -ne 0 ]; then
    echo "the lines above name a model ($*) outside its own files" >&2
fi
exit "$status"
