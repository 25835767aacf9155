// The FMI 1.0 co-simulation model description (stand-alone) and the page
// that documents it, from the model's own definition.
#include "DescriptionWriting.h"

using description::decimal;
using description::escaped;

namespace fmi1 {

namespace {

// 1.0 has no parameter causality: a parameter is an internal variable of
// variability "parameter".
const char* causalityName(Causality causality) {
    switch (causality) {
        case Causality::Parameter:
            return "internal";
        case Causality::Input:
            return "input";
        case Causality::Output:
            return "output";
    }
    return "internal";
}

void writeVariable(std::ostream& out, ValueReference vr, const RealVariable& variable) {
    const bool parameter = variable.causality == Causality::Parameter;
    out << "    <ScalarVariable name=\"" << escaped(variable.name) << "\" valueReference=\"" << vr
        << "\" description=\"" << escaped(variable.description) << "\" variability=\""
        << (parameter ? "parameter" : "continuous") << "\" causality=\""
        << causalityName(variable.causality) << "\">\n";
    const std::string unit = description::unitAttribute(variable);
    switch (variable.causality) {
        case Causality::Parameter:
            out << "      <Real" << unit << " start=\"" << decimal(variable.startValue)
                << "\" fixed=\"true\"/>\n";
            break;
        case Causality::Input:
            out << "      <Real" << unit << " start=\""
                << decimal(description::inputStartValue(variable)) << "\"/>\n";
            break;
        case Causality::Output:
            out << "      <Real" << unit << "/>\n";
            break;
    }
    out << "    </ScalarVariable>\n";
}

// 1.0 defines a unit by its name alone.
void writeUnitDefinitions(std::ostream& out, const ModelDefinition& model) {
    const std::vector<const description::BaseUnits*> units = description::unitsOf(model);
    if (units.empty()) {
        return;
    }
    out << "  <UnitDefinitions>\n";
    for (const description::BaseUnits* unit : units) {
        out << "    <BaseUnit unit=\"" << escaped(unit->symbol) << "\"/>\n";
    }
    out << "  </UnitDefinitions>\n";
}

}  // namespace

void writeModelDescription(std::ostream& out, const ModelDefinition& model) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<fmiModelDescription\n"
        << "  fmiVersion=\"1.0\"\n"
        << "  modelName=\"" << escaped(model.modelName) << "\"\n"
        << "  modelIdentifier=\"" << escaped(model.modelIdentifier) << "\"\n"
        << "  guid=\"" << escaped(model.modelGuid) << "\"\n"
        << "  description=\"" << escaped(model.description) << "\"\n"
        << "  version=\"" << description::kVersion << "\"\n"
        << "  generationTool=\"" << escaped(description::kGenerationTool) << "\"\n"
        << "  generationDateAndTime=\"" << description::generationDateAndTime() << "\"\n"
        << "  variableNamingConvention=\"flat\"\n"
        << "  numberOfContinuousStates=\"0\"\n"
        << "  numberOfEventIndicators=\"0\">\n";
    writeUnitDefinitions(out, model);
    out << "  <DefaultExperiment startTime=\"" << description::kDefaultStartTime << "\" stopTime=\""
        << description::kDefaultStopTime << "\"/>\n";
    out << "  <ModelVariables>\n";
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        writeVariable(out, vr, model.realVariables[vr]);
    }
    out << "  </ModelVariables>\n";
    // What the slave does: any communication step size, no input
    // interpolation and no output derivatives (the derivative calls refuse),
    // never asynchronous, never a rejected step, any number of instances, and
    // all memory from the master's callbacks. It computes its outputs from
    // the inputs of each step alone, so an input that jumps is no problem.
    out << "  <Implementation>\n"
        << "    <CoSimulation_StandAlone>\n"
        << "      <Capabilities\n"
        << "        canHandleVariableCommunicationStepSize=\"true\"\n"
        << "        canHandleEvents=\"true\"\n"
        << "        canRejectSteps=\"false\"\n"
        << "        canInterpolateInputs=\"false\"\n"
        << "        maxOutputDerivativeOrder=\"0\"\n"
        << "        canRunAsynchronuously=\"false\"\n"
        << "        canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
        << "        canNotUseMemoryManagementFunctions=\"false\"/>\n"
        << "    </CoSimulation_StandAlone>\n"
        << "  </Implementation>\n"
        << "</fmiModelDescription>\n";
}

void writeDocumentation(std::ostream& out, const ModelDefinition& model) {
    static const description::DocumentationVersion kVersion = {
        "An FMI 1.0 co-simulation slave (stand-alone), types platform <code>standard32</code>",
        "GUID",
        {"linux32", "linux64", "win64"},
        "recomputed only inside <code>fmiDoStep</code>, from the parameters and inputs as they "
        "stand when the step begins, and hold zero until the first step",
    };
    description::writeDocumentation(out, model, kVersion);
}

}  // namespace fmi1
