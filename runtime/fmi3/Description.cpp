// The FMI 3.0 model description, Model Exchange and co-simulation from the
// same binary, and the page that documents it, from the model's own
// definition.
#include "DescriptionWriting.h"

using description::decimal;
using description::escaped;

namespace fmi3 {

namespace {

void writeVariable(std::ostream& out, ValueReference vr, const RealVariable& variable) {
    out << "    <Float64 name=\"" << escaped(variable.name) << "\" valueReference=\"" << vr
        << "\" description=\"" << escaped(variable.description) << "\" "
        << description::roleAttributes(variable.causality) << description::unitAttribute(variable);
    switch (variable.causality) {
        case Causality::Parameter:
            out << " start=\"" << decimal(variable.startValue) << "\"";
            break;
        case Causality::Input:
            out << " start=\"" << decimal(description::inputStartValue(variable)) << "\"";
            break;
        case Causality::Output:
            break;
    }
    out << "/>\n";
}

constexpr const char* kTimeUnit = "s";

// Every 3.0 description names its independent variable. The model's reals
// take the value references from zero up, so time takes the next one; a
// master reads the time from the calls that step, never through it.
void writeIndependentTime(std::ostream& out, const ModelDefinition& model) {
    out << "    <Float64 name=\"time\" valueReference=\"" << model.realCount
        << "\" description=\"Simulation time\" causality=\"independent\" "
        << "variability=\"continuous\" unit=\"" << kTimeUnit << "\"/>\n";
}

// One element for an output, depending on the knowns of the causalities
// given, by value reference. The model states which knowns an output reads,
// not how, so every dependency is of the general kind.
void writeUnknown(std::ostream& out, const char* element, const ModelDefinition& model,
                  ValueReference output, std::initializer_list<Causality> knowns) {
    const std::vector<ValueReference> references =
        description::referencesOf(model, model.realVariables[output].dependsOn, knowns);
    out << "    <" << element << " valueReference=\"" << output << "\" dependencies=\""
        << description::spaceSeparated(references) << "\" dependenciesKind=\""
        << description::repeated("dependent", references.size()) << "\"/>\n";
}

// Outputs depend on inputs alone while stepping: a parameter changes only
// when the master sets it, never within a step. At initialization the
// parameters are knowns as well.
void writeModelStructure(std::ostream& out, const ModelDefinition& model) {
    const std::vector<ValueReference> outputs =
        description::referencesOf(model, ~ValueReferenceSet{0}, {Causality::Output});
    out << "  <ModelStructure>\n";
    for (const ValueReference output : outputs) {
        writeUnknown(out, "Output", model, output, {Causality::Input});
    }
    for (const ValueReference output : outputs) {
        writeUnknown(out, "InitialUnknown", model, output,
                     {Causality::Parameter, Causality::Input});
    }
    out << "  </ModelStructure>\n";
}

// What both interfaces say alike: one library for either, its whole state
// copied, restored and serialized, exact partial derivatives both ways, any
// number of instances.
void writeSharedCapabilities(std::ostream& out, const ModelDefinition& model) {
    out << "    modelIdentifier=\"" << escaped(model.modelIdentifier) << "\"\n"
        << "    needsExecutionTool=\"false\"\n"
        << "    canBeInstantiatedOnlyOncePerProcess=\"false\"\n"
        << "    canGetAndSetFMUState=\"true\"\n"
        << "    canSerializeFMUState=\"true\"\n"
        << "    providesDirectionalDerivatives=\"true\"\n"
        << "    providesAdjointDerivatives=\"true\"\n"
        << "    providesPerElementDependencies=\"false\"\n";
}

}  // namespace

void writeModelDescription(std::ostream& out, const ModelDefinition& model) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<fmiModelDescription\n"
        << "  fmiVersion=\"3.0\"\n"
        << "  modelName=\"" << escaped(model.modelName) << "\"\n"
        << "  instantiationToken=\"" << escaped(model.modelGuid) << "\"\n"
        << "  description=\"" << escaped(model.description) << "\"\n"
        << "  version=\"" << description::kVersion << "\"\n"
        << "  generationTool=\"" << escaped(description::kGenerationTool) << "\"\n"
        << "  generationDateAndTime=\"" << description::generationDateAndTime() << "\"\n"
        << "  variableNamingConvention=\"flat\">\n";
    // Model Exchange: no continuous states and no events, so nothing to do
    // after an integrator step; the FMU states and derivatives as in
    // co-simulation. The schema puts it before CoSimulation.
    out << "  <ModelExchange\n";
    writeSharedCapabilities(out, model);
    out << "    needsCompletedIntegratorStep=\"false\"\n"
        << "    providesEvaluateDiscreteStates=\"false\"/>\n";
    // What the slave does: any communication step size, its whole state
    // copied, restored and serialized, exact partial derivatives both ways,
    // no output derivatives, any number of instances; a step always runs to
    // its end, with no event mode and no intermediate updates.
    out << "  <CoSimulation\n";
    writeSharedCapabilities(out, model);
    out << "    canHandleVariableCommunicationStepSize=\"true\"\n"
        << "    maxOutputDerivativeOrder=\"0\"\n"
        << "    providesIntermediateUpdate=\"false\"\n"
        << "    mightReturnEarlyFromDoStep=\"false\"\n"
        << "    canReturnEarlyAfterIntermediateUpdate=\"false\"\n"
        << "    hasEventMode=\"false\"\n"
        << "    providesEvaluateDiscreteStates=\"false\"/>\n";
    // The model's units and that of time, its independent variable.
    description::writeUnitDefinitions(out, model, kTimeUnit);
    description::writeLogCategories(out);
    out << "  <DefaultExperiment startTime=\"" << description::kDefaultStartTime << "\" stopTime=\""
        << description::kDefaultStopTime << "\" stepSize=\"" << description::kDefaultStepSize
        << "\"/>\n";
    out << "  <ModelVariables>\n";
    for (ValueReference vr = 0; vr < model.realCount; ++vr) {
        writeVariable(out, vr, model.realVariables[vr]);
    }
    writeIndependentTime(out, model);
    out << "  </ModelVariables>\n";
    writeModelStructure(out, model);
    out << "</fmiModelDescription>\n";
}

void writeDocumentation(std::ostream& out, const ModelDefinition& model) {
    static const description::DocumentationVersion kVersion = {
        "An FMI 3.0 FMU for Model Exchange and co-simulation",
        "instantiation token",
        {"x86-linux", "x86_64-linux", "x86_64-windows", "aarch64-linux"},
        "computed in co-simulation when initialization ends "
        "(<code>fmi3ExitInitializationMode</code>) and in every <code>fmi3DoStep</code>, from "
        "the parameters and inputs as they stand when the call begins; in Model Exchange at the "
        "first read after any parameter or input changed, from the values as they stand then",
        "On any other platform, build the binary from the source code in <code>sources/</code> "
        "(<code>sources/buildDescription.xml</code> lists it); in that folder, with any C++17 "
        "compiler that takes GCC's options: <code>c++ -std=c++17 -O2 -shared -fPIC "
        "-ffp-contract=off -fno-exceptions -fno-rtti -fno-threadsafe-statics -fvisibility=hidden "
        "-DMODEL_IDENTIFIER=<i>identifier</i> -Iruntime/core -Iruntime/fmi3 runtime/core/*.cpp "
        "runtime/fmi3/*.cpp models/*/*.cpp -o <i>identifier</i>.so</code>, with this model's "
        "identifier. <code>-ffp-contract=off</code> keeps the compiler from fusing multiplications "
        "and additions, which would change the forces' last bits.",
    };
    description::writeDocumentation(out, model, kVersion);
}

}  // namespace fmi3
