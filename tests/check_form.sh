#!/usr/bin/env bash
# Checks the form of one built slave library the way a master's loader sees
# it: file class and machine, the libraries it needs, the names it exports,
# and optionally that no x87 instruction appears in it.
#
#   check_form.sh elf64|elf32|pe64 <library> <model identifier> <objdump> [readelf] [--no-x87] [1|2|3]
#
# The last argument is the FMI version (1.0 by default): a 1.0 library
# exports its 25 functions with the model identifier in front and vrStates,
# a 2.0 library its 44 functions of both interfaces under their own names, a 3.0
# library every one of the 75 functions of FMI 3.0 under its own name, those
# of the interfaces it does not have included.
set -euo pipefail

format=$1 library=$2 identifier=$3 objdump=$4 readelf=${5:-readelf} no_x87=${6:-} fmi_version=${7:-1}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

functions="fmiGetVersion fmiGetTypesPlatform fmiInstantiateSlave fmiInitializeSlave
fmiSetDebugLogging fmiTerminateSlave fmiResetSlave fmiFreeSlaveInstance
fmiSetReal fmiSetInteger fmiSetBoolean fmiSetString fmiGetReal fmiGetInteger fmiGetBoolean
fmiGetString fmiDoStep fmiCancelStep fmiGetStatus fmiGetRealStatus fmiGetIntegerStatus
fmiGetBooleanStatus fmiGetStringStatus fmiSetRealInputDerivatives fmiGetRealOutputDerivatives"
expected_exports=$({ for f in $functions; do echo "${identifier}_$f"; done; echo vrStates; } | sort)
export_description="the 25 prefixed functions and vrStates"
if [[ $fmi_version == 2 ]]; then
    fmi2_functions="fmi2GetTypesPlatform fmi2GetVersion fmi2SetDebugLogging fmi2Instantiate
fmi2FreeInstance fmi2SetupExperiment fmi2EnterInitializationMode fmi2ExitInitializationMode
fmi2Terminate fmi2Reset fmi2GetReal fmi2GetInteger fmi2GetBoolean fmi2GetString fmi2SetReal
fmi2SetInteger fmi2SetBoolean fmi2SetString fmi2GetFMUstate fmi2SetFMUstate fmi2FreeFMUstate
fmi2SerializedFMUstateSize fmi2SerializeFMUstate fmi2DeSerializeFMUstate
fmi2GetDirectionalDerivative fmi2SetRealInputDerivatives fmi2GetRealOutputDerivatives
fmi2DoStep fmi2CancelStep fmi2GetStatus fmi2GetRealStatus fmi2GetIntegerStatus
fmi2GetBooleanStatus fmi2GetStringStatus fmi2EnterEventMode fmi2NewDiscreteStates
fmi2EnterContinuousTimeMode fmi2CompletedIntegratorStep fmi2SetTime fmi2SetContinuousStates
fmi2GetDerivatives fmi2GetEventIndicators fmi2GetContinuousStates
fmi2GetNominalsOfContinuousStates"
    expected_exports=$(for f in $fmi2_functions; do echo "$f"; done | sort)
    export_description="the 44 FMI 2.0 functions of Model Exchange and co-simulation"
fi

if [[ $fmi_version == 3 ]]; then
    fmi3_functions="fmi3GetVersion fmi3SetDebugLogging fmi3InstantiateModelExchange
fmi3InstantiateCoSimulation fmi3InstantiateScheduledExecution fmi3FreeInstance
fmi3EnterInitializationMode fmi3ExitInitializationMode fmi3EnterEventMode fmi3Terminate
fmi3Reset fmi3GetFloat32 fmi3GetFloat64 fmi3GetInt8 fmi3GetUInt8 fmi3GetInt16 fmi3GetUInt16
fmi3GetInt32 fmi3GetUInt32 fmi3GetInt64 fmi3GetUInt64 fmi3GetBoolean fmi3GetString
fmi3GetBinary fmi3GetClock fmi3SetFloat32 fmi3SetFloat64 fmi3SetInt8 fmi3SetUInt8
fmi3SetInt16 fmi3SetUInt16 fmi3SetInt32 fmi3SetUInt32 fmi3SetInt64 fmi3SetUInt64
fmi3SetBoolean fmi3SetString fmi3SetBinary fmi3SetClock fmi3GetNumberOfVariableDependencies
fmi3GetVariableDependencies fmi3GetFMUState fmi3SetFMUState fmi3FreeFMUState
fmi3SerializedFMUStateSize fmi3SerializeFMUState fmi3DeserializeFMUState
fmi3GetDirectionalDerivative fmi3GetAdjointDerivative fmi3EnterConfigurationMode
fmi3ExitConfigurationMode fmi3GetIntervalDecimal fmi3GetIntervalFraction fmi3GetShiftDecimal
fmi3GetShiftFraction fmi3SetIntervalDecimal fmi3SetIntervalFraction fmi3SetShiftDecimal
fmi3SetShiftFraction fmi3EvaluateDiscreteStates fmi3UpdateDiscreteStates
fmi3EnterContinuousTimeMode fmi3CompletedIntegratorStep fmi3SetTime fmi3SetContinuousStates
fmi3GetContinuousStateDerivatives fmi3GetEventIndicators fmi3GetContinuousStates
fmi3GetNominalsOfContinuousStates fmi3GetNumberOfEventIndicators
fmi3GetNumberOfContinuousStates fmi3EnterStepMode fmi3GetOutputDerivatives fmi3DoStep
fmi3ActivateModelPartition"
    expected_exports=$(for f in $fmi3_functions; do echo "$f"; done | sort)
    export_description="the 75 FMI 3.0 functions"
fi

compare_exports() {
    local actual=$1
    if [[ "$actual" != "$expected_exports" ]]; then
        fail "exports differ from $export_description:"
        diff <(echo "$expected_exports") <(echo "$actual") || true
    fi
}

case $format in
elf64 | elf32)
    header=$("$readelf" -h "$library")
    if [[ $format == elf64 ]]; then
        grep -q 'Class:.*ELF64' <<<"$header" || fail "not ELF64"
        grep -q 'Machine:.*X86-64' <<<"$header" || fail "not x86-64"
    else
        grep -q 'Class:.*ELF32' <<<"$header" || fail "not ELF32"
        grep -q 'Machine:.*80386' <<<"$header" || fail "not i386"
    fi
    needed=$("$readelf" -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    [[ "$needed" == "libc.so.6" ]] || fail "needs [$needed], expected only libc.so.6"
    symbols=$("$readelf" --dyn-syms -W "$library" | awk 'NR > 3 && $7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}' | sed 's/@.*//' | sort)
    compare_exports "$symbols"
    undefined=$("$readelf" --dyn-syms -W "$library" | awk 'NR > 3 && $7 == "UND" {print $8}')
    # __cxa_finalize is glibc's, called by the shared-object start files.
    if grep -v '^__cxa_finalize@' <<<"$undefined" | grep -E '__cxa|__gxx|_Unwind|^_Z'; then
        fail "refers to the C++ runtime"
    fi
    ;;
pe64)
    private=$("$objdump" -p "$library")
    grep -q 'file format pei-x86-64' <<<"$private" || fail "not PE32+ x86-64"
    grep -qE '^Magic[[:space:]]+020b' <<<"$private" || fail "optional header is not PE32+"
    dll_name=$(sed -n 's/^Name[[:space:]]\+[0-9a-f]\+[[:space:]]\+//p' <<<"$private")
    [[ "$dll_name" == "${identifier}.dll" ]] || fail "export directory names '$dll_name'"
    exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && /^\t\[/ {print $NF; next} on {on = 0}' <<<"$private" | sort)
    compare_exports "$exports"
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$private")
    while read -r dll; do
        [[ -z $dll || $dll == KERNEL32.dll || $dll == api-ms-win-crt-*.dll ]] ||
            fail "imports $dll"
    done <<<"$imports"
    ;;
*)
    echo "unknown format $format"
    exit 2
    ;;
esac

if [[ $no_x87 == --no-x87 ]]; then
    # Every mnemonic of the x87 unit begins with "f"; FXSAVE and FXRSTOR only
    # save and restore state and belong to the floating-point setup.
    x87=$("$objdump" -d --no-show-raw-insn "$library" |
        awk -F'\t' 'NF >= 2 {split($2, word, " "); print word[1]}' |
        grep -E '^f' | grep -vE '^fxsave|^fxrstor' | sort | uniq -c || true)
    [[ -z $x87 ]] || fail "x87 instructions: $x87"
fi

if ((failures > 0)); then
    echo "$library: $failures problem(s)"
    exit 1
fi
echo "$library: form as expected ($format, $(wc -l <<<"$expected_exports") exports)"
