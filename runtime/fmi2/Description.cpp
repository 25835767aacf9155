// The FMI 2.0 model description, of Model Exchange and co-simulation from one
// binary, and the page that documents it, from the model's own definition.
#include "DescriptionWriting.h"

using description::decimal;
using description::escaped;

namespace fmi2 {

namespace {

void writeVariable(std::ostream& out, ValueReference vr, const RealVariable& variable) {
    out << "    <ScalarVariable name=\"" << escaped(variable.name) << "\" valueReference=\"" << vr
        << "\" description=\"" << escaped(variable.description) << "\" "
        << description::roleAttributes(variable.causality) << ">\n";
    const std::string unit = description::unitAttribute(variable);
    switch (variable.causality) {
        case Causality::Parameter:
            out << "      <Real" << unit << " start=\"" << decimal(variable.startValue) << "\"/>\n";
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

// The variables are written in value-reference order, so a variable's index
// in the description is its value reference plus one.
ValueReference indexOf(ValueReference vr) {
    return vr + 1;
}

// One <Unknown> for an output, depending on the knowns of the causalities
// given. The model states which knowns an output reads, not how, so every
// dependency is of the general kind.
void writeUnknown(std::ostream& out, const ModelDefinition& model, ValueReference output,
                  std::initializer_list<Causality> knowns) {
    std::vector<ValueReference> indices =
        description::referencesOf(model, model.realVariables[output].dependsOn, knowns);
    for (ValueReference& reference : indices) {
        reference = indexOf(reference);
    }
    out << "      <Unknown index=\"" << indexOf(output) << "\" dependencies=\""
        << description::spaceSeparated(indices) << "\" dependenciesKind=\""
        << description::repeated("dependent", indices.size()) << "\"/>\n";
}

// Outputs depend on inputs alone after initialization: a parameter changes
// only when the master sets it, never within a step or while the master
// integrates. At initialization the parameters are knowns as well.
void writeModelStructure(std::ostream& out, const ModelDefinition& model) {
    const std::vector<ValueReference> outputs =
        description::referencesOf(model, ~ValueReferenceSet{0}, {Causality::Output});
    out << "  <ModelStructure>\n    <Outputs>\n";
    for (const ValueReference output : outputs) {
        writeUnknown(out, model, output, {Causality::Input});
    }
    out << "    </Outputs>\n    <InitialUnknowns>\n";
    for (const ValueReference output : outputs) {
        writeUnknown(out, model, output, {Causality::Parameter, Causality::Input});
    }
    out << "    </InitialUnknowns>\n  </ModelStructure>\n";
}

}  // namespace

void writeModelDescription(std::ostream& out, const ModelDefinition& model) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<fmiModelDescription\n"
        << "  fmiVersion=\"2.0\"\n"
        << "  modelName=\"" << escaped(model.modelName) << "\"\n"
        << "  guid=\"" << escaped(model.modelGuid) << "\"\n"
        << "  description=\"" << escaped(model.description) << "\"\n"
        << "  version=\"" << description::kVersion << "\"\n"
        << "  generationTool=\"" << escaped(description::kGenerationTool) << "\"\n"
        << "  generationDateAndTime=\"" << description::generationDateAndTime() << "\"\n"
        << "  variableNamingConvention=\"flat\"\n"
        << "  numberOfEventIndicators=\"0\">\n";
    // Model Exchange from the same binary: no continuous states and nothing
    // to do at an integrator step; the FMU states and derivatives as below.
    out << "  <ModelExchange\n"
        << "    modelIdentifier=\"" << escaped(model.modelIdentifier) << "\"\n"
        << "    needsExecutionTool=\"false\"\n"
        << "    completedIntegratorStepNotNeeded=\"true\"\n"
        << "    canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
        << "    canNotUseMemoryManagementFunctions=\"false\"\n"
        << "    canGetAndSetFMUstate=\"true\"\n"
        << "    canSerializeFMUstate=\"true\"\n"
        << "    providesDirectionalDerivative=\"true\"/>\n";
    // What the slave does: any communication step size, its whole state
    // copied, restored and serialized, exact partial derivatives, no input
    // interpolation and no output derivatives, never asynchronous, any number
    // of instances, and all memory from the master's callbacks.
    out << "  <CoSimulation\n"
        << "    modelIdentifier=\"" << escaped(model.modelIdentifier) << "\"\n"
        << "    needsExecutionTool=\"false\"\n"
        << "    canHandleVariableCommunicationStepSize=\"true\"\n"
        << "    canInterpolateInputs=\"false\"\n"
        << "    maxOutputDerivativeOrder=\"0\"\n"
        << "    canRunAsynchronuously=\"false\"\n"
        << "    canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
        << "    canNotUseMemoryManagementFunctions=\"false\"\n"
        << "    canGetAndSetFMUstate=\"true\"\n"
        << "    canSerializeFMUstate=\"true\"\n"
        << "    providesDirectionalDerivative=\"true\"/>\n";
    // Each variable names its unit itself: a type per unit would add nothing
    // that the unit does not say.
    description::writeUnitDefinitions(out, model);
    description::writeLogCategories(out);
    out << "  <DefaultExperiment startTime=\"" << description::kDefaultStartTime << "\" stopTime=\""
        << description::kDefaultStopTime << "\" stepSize=\"" << description::kDefaultStepSize
        << "\"/>\n";
    out << "  <ModelVariables>\n";
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        writeVariable(out, vr, model.realVariables[vr]);
    }
    out << "  </ModelVariables>\n";
    writeModelStructure(out, model);
    out << "</fmiModelDescription>\n";
}

void writeDocumentation(std::ostream& out, const ModelDefinition& model) {
    static const description::DocumentationVersion kVersion = {
        "An FMI 2.0 Model Exchange and co-simulation FMU",
        "GUID",
        {"linux32", "linux64", "win64"},
        "computed, in co-simulation, when initialization ends "
        "(<code>fmi2ExitInitializationMode</code>) and in every <code>fmi2DoStep</code>, from the "
        "parameters and inputs as they stand when the call begins; in Model Exchange, when read "
        "(<code>fmi2GetReal</code>) after a parameter or input changed, from the values as they "
        "stand",
        "FMI 2.0 names no folder for 64-bit ARM (importers look in <code>linux64</code>, which "
        "holds the x86-64 binary): on ARM take this model's FMI 3.0 archive, whose "
        "<code>aarch64-linux</code> binary gives the same forces bit for bit.",
    };
    description::writeDocumentation(out, model, kVersion);
}

}  // namespace fmi2
