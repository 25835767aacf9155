// The model descriptions of every FMI version: well-formed co-simulation
// descriptions that importers accept, and in agreement with the libraries
// they describe and with what the tests know of each model independently.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "DescriptionWriting.h"
#include "FmiTypes.h"
#include "LogCategories.h"
#include "ModelFacts.h"
#include "ModelRegistry.h"
#include "SlaveLibrary.h"
#include "ToolTest.h"

namespace {

std::vector<std::string> loggedMessages;

extern "C" void collectingLogger(fmiComponent, fmiString, fmiStatus, fmiString, fmiString message,
                                 ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, message);
    std::vsnprintf(buffer, sizeof buffer, message, arguments);
    va_end(arguments);
    loggedMessages.emplace_back(buffer);
}

// Every block the slaves hold, so that an instance left in Error, which no
// call can free, is still returned at the end of its test.
std::set<void*> liveBlocks;

extern "C" void* allocateZeroed(std::size_t count, std::size_t size) {
    void* block = std::calloc(count, size);
    liveBlocks.insert(block);
    return block;
}

extern "C" void freeBlock(void* block) {
    liveBlocks.erase(block);
    std::free(block);
}

constexpr fmiCallbackFunctions kCallbacks = {collectingLogger, allocateZeroed, freeBlock, nullptr};

struct Variable {
    std::string name;
    fmiValueReference valueReference;
    std::string causality;
    std::string variability;
    std::string initial;
    std::optional<double> start;
    std::string fixed;
    std::string unit;
};

enum class Role { Parameter, Input, Output };

// What a variable of each role looks like in a version's description.
struct RoleAttributes {
    std::string causality;
    std::string variability;
    std::string initial;
    std::string fixed;
};

using Attributes = std::map<std::string, std::string>;

// What differs between the FMI versions' descriptions.
struct VersionFacts {
    std::string fmiVersion;
    std::string tokenAttribute;
    std::set<std::string> rootAttributes;
    std::vector<std::string> rootChildren;
    std::vector<std::string> capabilitiesPath;
    Attributes capabilities;  // all of them but modelIdentifier
    Attributes defaultExperiment;
    std::map<Role, RoleAttributes> roles;
    std::set<std::string> variableAttributes;  // of the element that holds the start value
    std::string documentationPage;
    std::string doStep;
};

const std::set<std::string> kFmi1RealAttributes = {
    "declaredType", "quantity", "unit",    "displayUnit", "relativeQuantity",
    "min",          "max",      "nominal", "start",       "fixed"};

// The attributes of the element around a 1.0 or 2.0 variable's type.
const std::map<int, std::set<std::string>> kScalarVariableAttributes = {
    {1, {"name", "valueReference", "description", "variability", "causality", "alias"}},
    {2,
     {"name", "valueReference", "description", "causality", "variability", "initial",
      "canHandleMultipleSetPerTimeInstant"}},
};

const std::map<Role, RoleAttributes> kLaterRoles = {
    {Role::Parameter, {"parameter", "tunable", "exact", ""}},
    {Role::Input, {"input", "continuous", "", ""}},
    {Role::Output, {"output", "continuous", "calculated", ""}},
};

const std::map<int, VersionFacts> kVersions = {
    {1,
     {"1.0",
      "guid",
      {"fmiVersion", "modelName", "modelIdentifier", "guid", "description", "author", "version",
       "generationTool", "generationDateAndTime", "variableNamingConvention",
       "numberOfContinuousStates", "numberOfEventIndicators"},
      {"UnitDefinitions", "DefaultExperiment", "ModelVariables", "Implementation"},
      {"Implementation", "CoSimulation_StandAlone", "Capabilities"},
      // canSignalEvents is left out: a widely used checker rejects it whatever its value.
      {{"canHandleVariableCommunicationStepSize", "true"},
       {"canHandleEvents", "true"},
       {"canRejectSteps", "false"},
       {"canInterpolateInputs", "false"},
       {"maxOutputDerivativeOrder", "0"},
       {"canRunAsynchronuously", "false"},
       {"canBeInstantiatedOnlyOncePerProcess", "false"},
       {"canNotUseMemoryManagementFunctions", "false"}},
      {{"startTime", "0"}, {"stopTime", "4"}},
      {{Role::Parameter, {"internal", "parameter", "", "true"}},
       {Role::Input, {"input", "continuous", "", ""}},
       {Role::Output, {"output", "continuous", "", ""}}},
      kFmi1RealAttributes,
      "documentation/_main.html",
      "fmiDoStep"}},
    {2,
     {"2.0",
      "guid",
      {"fmiVersion", "modelName", "guid", "description", "author", "version", "copyright",
       "license", "generationTool", "generationDateAndTime", "variableNamingConvention",
       "numberOfEventIndicators"},
      {"ModelExchange", "CoSimulation", "UnitDefinitions", "LogCategories", "DefaultExperiment",
       "ModelVariables", "ModelStructure"},
      {"CoSimulation"},
      {{"needsExecutionTool", "false"},
       {"canHandleVariableCommunicationStepSize", "true"},
       {"canInterpolateInputs", "false"},
       {"maxOutputDerivativeOrder", "0"},
       {"canRunAsynchronuously", "false"},
       {"canBeInstantiatedOnlyOncePerProcess", "false"},
       {"canNotUseMemoryManagementFunctions", "false"},
       {"canGetAndSetFMUstate", "true"},
       {"canSerializeFMUstate", "true"},
       {"providesDirectionalDerivative", "true"}},
      {{"startTime", "0"}, {"stopTime", "4"}, {"stepSize", "0.01"}},
      kLaterRoles,
      {"declaredType", "quantity", "unit", "displayUnit", "relativeQuantity", "min", "max",
       "nominal", "unbounded", "start", "derivative", "reinit"},
      "documentation/index.html",
      "fmi2DoStep"}},
    {3,
     {"3.0",
      "instantiationToken",
      {"fmiVersion", "modelName", "instantiationToken", "description", "author", "version",
       "copyright", "license", "generationTool", "generationDateAndTime",
       "variableNamingConvention"},
      {"ModelExchange", "CoSimulation", "UnitDefinitions", "LogCategories", "DefaultExperiment",
       "ModelVariables", "ModelStructure"},
      {"CoSimulation"},
      {{"needsExecutionTool", "false"},
       {"canBeInstantiatedOnlyOncePerProcess", "false"},
       {"canGetAndSetFMUState", "true"},
       {"canSerializeFMUState", "true"},
       {"providesDirectionalDerivatives", "true"},
       {"providesAdjointDerivatives", "true"},
       {"providesPerElementDependencies", "false"},
       {"canHandleVariableCommunicationStepSize", "true"},
       {"maxOutputDerivativeOrder", "0"},
       {"providesIntermediateUpdate", "false"},
       {"mightReturnEarlyFromDoStep", "false"},
       {"canReturnEarlyAfterIntermediateUpdate", "false"},
       {"hasEventMode", "false"},
       {"providesEvaluateDiscreteStates", "false"}},
      {{"startTime", "0"}, {"stopTime", "4"}, {"stepSize", "0.01"}},
      kLaterRoles,
      {"name",
       "valueReference",
       "description",
       "causality",
       "variability",
       "canHandleMultipleSetPerTimeInstant",
       "intermediateUpdate",
       "previous",
       "clocks",
       "declaredType",
       "initial",
       "quantity",
       "unit",
       "displayUnit",
       "relativeQuantity",
       "unbounded",
       "min",
       "max",
       "nominal",
       "start",
       "derivative",
       "reinit"},
      "documentation/index.html",
      "fmi3DoStep"}},
};

std::set<std::string> attributeNames(const pugi::xml_node& node) {
    std::set<std::string> names;
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        names.insert(attribute.name());
    }
    return names;
}

std::vector<std::string> childNames(const pugi::xml_node& node) {
    std::vector<std::string> names;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_element) {
            names.emplace_back(child.name());
        }
    }
    return names;
}

Attributes attributesOf(const pugi::xml_node& node) {
    Attributes attributes;
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        attributes.emplace(attribute.name(), attribute.value());
    }
    return attributes;
}

::testing::AssertionResult onlyKnownAttributes(const pugi::xml_node& node,
                                               const std::set<std::string>& allowed) {
    for (const std::string& name : attributeNames(node)) {
        if (allowed.count(name) == 0) {
            return ::testing::AssertionFailure() << "<" << node.name() << "> has attribute " << name
                                                 << ", which its FMI version does not define there";
        }
    }
    return ::testing::AssertionSuccess();
}

// Exactly as written, read back: the description must give the library's
// doubles bit for bit.
double parsedDouble(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    EXPECT_TRUE(end != text && *end == '\0') << "not a number: '" << text << "'";
    return value;
}

bool digits(const std::string& text, std::size_t from, std::size_t count) {
    if (from + count > text.size()) {
        return false;
    }
    for (std::size_t i = from; i < from + count; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    return true;
}

// An xs:dateTime: YYYY-MM-DDThh:mm:ss, optional fractional seconds, and an
// optional time zone (Z or +hh:mm / -hh:mm).
bool isDateTime(const std::string& text) {
    if (!(digits(text, 0, 4) && text.size() >= 19 && text[4] == '-' && digits(text, 5, 2) &&
          text[7] == '-' && digits(text, 8, 2) && text[10] == 'T' && digits(text, 11, 2) &&
          text[13] == ':' && digits(text, 14, 2) && text[16] == ':' && digits(text, 17, 2))) {
        return false;
    }
    std::size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        ++at;
        const std::size_t first = at;
        while (digits(text, at, 1)) {
            ++at;
        }
        if (at == first) {
            return false;
        }
    }
    const std::string zone = text.substr(at);
    return zone.empty() || zone == "Z" ||
           (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && digits(zone, 1, 2) &&
            zone[3] == ':' && digits(zone, 4, 2));
}

bool isIdentifier(const std::string& text) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0])) != 0) {
        return false;
    }
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
            return false;
        }
    }
    return true;
}

// The knowns each output of a model depends on, found from the force
// equations alone: one known at a time is changed at many random points, in
// and out of every branch, and an output that changes depends on it.
std::vector<std::set<fmiValueReference>> observedDependencies(const ModelFacts& facts,
                                                              const std::vector<bool>& isOutput) {
    std::vector<std::set<fmiValueReference>> dependencies(facts.realCount());
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> anyValue(-1.0, 1.0);
    for (int point = 0; point < 1000; ++point) {
        std::vector<fmiReal> base(facts.realCount());
        for (fmiReal& value : base) {
            value = anyValue(random);
        }
        std::vector<fmiReal> baseOutputs = base;
        facts.equation(baseOutputs);
        for (fmiValueReference known = 0; known < facts.realCount(); ++known) {
            if (isOutput[known]) {
                continue;
            }
            std::vector<fmiReal> changed = base;
            changed[known] += 0.5;
            facts.equation(changed);
            for (fmiValueReference output = 0; output < facts.realCount(); ++output) {
                if (isOutput[output] && bitsOf(changed[output]) != bitsOf(baseOutputs[output])) {
                    dependencies[output].insert(known);
                }
            }
        }
    }
    return dependencies;
}

std::vector<fmiValueReference> numberList(const std::string& text) {
    std::vector<fmiValueReference> numbers;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t used = 0;
        numbers.push_back(static_cast<fmiValueReference>(std::stoul(text.substr(at), &used)));
        at += used;
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
    }
    return numbers;
}

std::vector<std::string> wordList(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t space = std::min(text.find(' ', at), text.size());
        words.push_back(text.substr(at, space - at));
        at = space + 1;
    }
    return words;
}

class ModelDescription : public ::testing::TestWithParam<ModelVersion> {
  protected:
    void SetUp() override {
        const std::string path = GetParam().stageDir() + "/modelDescription.xml";
        const pugi::xml_parse_result parsed = document_.load_file(path.c_str());
        ASSERT_TRUE(parsed) << path << ": " << parsed.description() << " at byte " << parsed.offset;
        root_ = document_.document_element();
        for (const pugi::xml_node& element : root_.child("ModelVariables").children()) {
            if (element.type() != pugi::node_element) {
                continue;
            }
            if (std::string(element.attribute("causality").value()) == "independent") {
                independents_.push_back(element);
                continue;
            }
            // 3.0 puts the type's attributes on the variable itself.
            const pugi::xml_node typed = fmiVersion() == 3 ? element : element.child("Real");
            Variable variable{element.attribute("name").value(),
                              element.attribute("valueReference").as_uint(),
                              element.attribute("causality").value(),
                              element.attribute("variability").value(),
                              element.attribute("initial").value(),
                              std::nullopt,
                              typed.attribute("fixed").value(),
                              typed.attribute("unit").value()};
            if (const pugi::xml_attribute start = typed.attribute("start")) {
                variable.start = parsedDouble(start.value());
            }
            variables_.push_back(variable);
            elements_.push_back(element);
        }
        loggedMessages.clear();
    }

    void TearDown() override {
        for (void* block : liveBlocks) {
            std::free(block);
        }
        liveBlocks.clear();
    }

    int fmiVersion() const {
        return GetParam().fmiVersion;
    }
    const VersionFacts& version() const {
        return kVersions.at(fmiVersion());
    }
    const std::string& model() const {
        return GetParam().model;
    }

    std::optional<Role> roleOf(const Variable& variable) const {
        for (const auto& [role, attributes] : version().roles) {
            if (attributes.causality == variable.causality) {
                return role;
            }
        }
        return std::nullopt;
    }

    std::vector<bool> outputFlags() const {
        std::vector<bool> flags;
        for (const Variable& variable : variables_) {
            flags.push_back(roleOf(variable) == Role::Output);
        }
        return flags;
    }

    pugi::xml_node capabilities() const {
        pugi::xml_node node = root_;
        for (const std::string& name : version().capabilitiesPath) {
            node = node.child(name.c_str());
        }
        return node;
    }

    pugi::xml_document document_;
    pugi::xml_node root_;
    std::vector<Variable> variables_;
    std::vector<pugi::xml_node> elements_;
    std::vector<pugi::xml_node> independents_;
};

// The tests that load the FMI 1.0 library the description goes with.
class Fmi1ModelDescription : public ModelDescription {
  protected:
    std::string libraryPath() const {
        return binaryDir() + "/" + model() + ".so";
    }
};

// The parts that FMI 2.0 and 3.0 add: log categories and the structure of
// the outputs' dependencies.
class LaterModelDescription : public ModelDescription {
  protected:
    // The dependencies of each output listed under `listName` (2.0) or as
    // `elementName` elements (3.0), by value reference, in document order.
    std::vector<std::pair<fmiValueReference, std::vector<fmiValueReference>>> unknowns(
        const char* listName, const char* elementName) const {
        std::vector<std::pair<fmiValueReference, std::vector<fmiValueReference>>> found;
        const pugi::xml_node structure = root_.child("ModelStructure");
        const bool byIndex = fmiVersion() == 2;
        const pugi::xml_node list = byIndex ? structure.child(listName) : structure;
        for (const pugi::xml_node& unknown : list.children(byIndex ? "Unknown" : elementName)) {
            std::vector<fmiValueReference> knowns =
                numberList(unknown.attribute("dependencies").value());
            const std::vector<std::string> kinds =
                wordList(unknown.attribute("dependenciesKind").value());
            EXPECT_EQ(kinds, std::vector<std::string>(knowns.size(), "dependent"));
            fmiValueReference subject = unknown.attribute("valueReference").as_uint();
            if (byIndex) {
                subject = referenceAtIndex(unknown.attribute("index").as_uint());
                for (fmiValueReference& known : knowns) {
                    known = referenceAtIndex(known);
                }
            }
            found.emplace_back(subject, knowns);
        }
        return found;
    }

    // 2.0 names a variable by its 1-based position among the variables.
    fmiValueReference referenceAtIndex(unsigned index) const {
        EXPECT_TRUE(index >= 1 && index <= variables_.size()) << "index " << index;
        return index >= 1 && index <= variables_.size() ? variables_[index - 1].valueReference
                                                        : ~fmiValueReference{0};
    }

    // What the description must list: each output, in order, with the
    // knowns of the roles given that its equation reads.
    std::vector<std::pair<fmiValueReference, std::vector<fmiValueReference>>> expectedUnknowns(
        const std::set<Role>& knownRoles) const {
        const ModelFacts* facts = findModelFacts(model());
        EXPECT_NE(facts, nullptr);
        std::vector<std::pair<fmiValueReference, std::vector<fmiValueReference>>> expected;
        if (facts == nullptr || facts->realCount() != variables_.size()) {
            return expected;
        }
        const std::vector<std::set<fmiValueReference>> dependencies =
            observedDependencies(*facts, outputFlags());
        for (const Variable& output : variables_) {
            if (roleOf(output) != Role::Output) {
                continue;
            }
            std::vector<fmiValueReference> knowns;
            for (const fmiValueReference known : dependencies[output.valueReference]) {
                if (knownRoles.count(*roleOf(variables_[known])) != 0) {
                    knowns.push_back(known);
                }
            }
            expected.emplace_back(output.valueReference, knowns);
        }
        return expected;
    }
};

}  // namespace

TEST_P(ModelDescription, IsACoSimulationDescriptionOfItsVersion) {
    EXPECT_STREQ(root_.name(), "fmiModelDescription");
    EXPECT_TRUE(onlyKnownAttributes(root_, version().rootAttributes));
    EXPECT_EQ(root_.attribute("fmiVersion").value(), version().fmiVersion);
    EXPECT_STRNE(root_.attribute("modelName").value(), "");
    EXPECT_STRNE(root_.attribute("description").value(), "");
    EXPECT_STRNE(root_.attribute("generationTool").value(), "");
    EXPECT_STREQ(root_.attribute("variableNamingConvention").value(), "flat");
    if (fmiVersion() < 3) {
        EXPECT_STREQ(root_.attribute("numberOfEventIndicators").value(), "0");
    }
    if (fmiVersion() == 1) {
        EXPECT_STREQ(root_.attribute("numberOfContinuousStates").value(), "0");
    }
    EXPECT_TRUE(isDateTime(root_.attribute("generationDateAndTime").value()))
        << root_.attribute("generationDateAndTime").value();

    // The schema's order, and nothing else at this level.
    EXPECT_EQ(childNames(root_), version().rootChildren);
    EXPECT_EQ(attributesOf(root_.child("DefaultExperiment")), version().defaultExperiment);
}

// The capabilities of Model Exchange, where a version's archive has it, all
// of them but modelIdentifier, which is co-simulation's.
const std::map<int, Attributes> kModelExchangeCapabilities = {
    {2,
     {{"needsExecutionTool", "false"},
      {"completedIntegratorStepNotNeeded", "true"},
      {"canBeInstantiatedOnlyOncePerProcess", "false"},
      {"canNotUseMemoryManagementFunctions", "false"},
      {"canGetAndSetFMUstate", "true"},
      {"canSerializeFMUstate", "true"},
      {"providesDirectionalDerivative", "true"}}},
    {3,
     {{"needsExecutionTool", "false"},
      {"canBeInstantiatedOnlyOncePerProcess", "false"},
      {"canGetAndSetFMUState", "true"},
      {"canSerializeFMUState", "true"},
      {"providesDirectionalDerivatives", "true"},
      {"providesAdjointDerivatives", "true"},
      {"providesPerElementDependencies", "false"},
      {"needsCompletedIntegratorStep", "false"},
      {"providesEvaluateDiscreteStates", "false"}}},
};

TEST_P(ModelDescription, DeclaresWhatTheSlaveCan) {
    const pugi::xml_node node = capabilities();
    ASSERT_TRUE(node) << "no capabilities";
    Attributes declared = attributesOf(node);
    // 1.0 names the library on the root, later versions with the capabilities.
    const pugi::xml_node named = fmiVersion() == 1 ? root_ : node;
    EXPECT_STREQ(named.attribute("modelIdentifier").value(), model().c_str());
    declared.erase("modelIdentifier");
    EXPECT_EQ(declared, version().capabilities);
    EXPECT_EQ(childNames(node), std::vector<std::string>{});
    const auto modelExchange = kModelExchangeCapabilities.find(fmiVersion());
    if (modelExchange != kModelExchangeCapabilities.end()) {
        Attributes exchanged = attributesOf(root_.child("ModelExchange"));
        EXPECT_EQ(exchanged["modelIdentifier"], model());
        exchanged.erase("modelIdentifier");
        EXPECT_EQ(exchanged, modelExchange->second);
        EXPECT_EQ(childNames(root_.child("ModelExchange")), std::vector<std::string>{});
    }
}

TEST_P(ModelDescription, VariablesFollowTheirRoles) {
    ASSERT_FALSE(variables_.empty());
    std::set<std::string> names;
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        const Variable& variable = variables_[i];
        SCOPED_TRACE(variable.name);
        const pugi::xml_node element = elements_[i];
        EXPECT_STREQ(element.name(), fmiVersion() == 3 ? "Float64" : "ScalarVariable");
        const pugi::xml_node typed = fmiVersion() == 3 ? element : element.child("Real");
        if (fmiVersion() != 3) {
            EXPECT_EQ(childNames(element), std::vector<std::string>{"Real"});
            EXPECT_TRUE(onlyKnownAttributes(element, kScalarVariableAttributes.at(fmiVersion())));
        }
        EXPECT_TRUE(onlyKnownAttributes(typed, version().variableAttributes));
        EXPECT_STRNE(element.attribute("description").value(), "");
        EXPECT_TRUE(isIdentifier(variable.name));
        EXPECT_TRUE(names.insert(variable.name).second) << "name used twice";
        EXPECT_EQ(variable.valueReference, i) << "value references are dense and in order";

        const std::optional<Role> role = roleOf(variable);
        ASSERT_TRUE(role.has_value()) << "causality " << variable.causality;
        const RoleAttributes& expected = version().roles.at(*role);
        EXPECT_EQ(variable.variability, expected.variability);
        EXPECT_EQ(variable.initial, expected.initial);
        EXPECT_EQ(variable.fixed, expected.fixed);
        EXPECT_EQ(variable.start.has_value(), *role != Role::Output);
        if (*role == Role::Input && variable.start.has_value()) {
            EXPECT_EQ(bitsOf(*variable.start), bitsOf(0.0));
        }
    }
}

// The SI base units of each unit a model may name (kg, m, s exponents).
const std::map<std::string, std::array<int, 3>> kBaseUnits = {
    {"m", {0, 1, 0}},  {"s", {0, 0, 1}},    {"m/s", {0, 1, -1}},
    {"N", {1, 1, -2}}, {"N/m", {1, 0, -2}}, {"N.s/m", {1, 0, -1}},
};

// Each variable has the unit of the model's table; the units used are
// defined once each, in order of first use (3.0's time in s last), and
// nothing else; 2.0 and 3.0 give their base units.
TEST_P(ModelDescription, DefinesTheUnitsItsVariablesUse) {
    const ModelDefinition* definition = findRegisteredModel(model().c_str());
    ASSERT_NE(definition, nullptr);
    ASSERT_EQ(elements_.size(), definition->realCount);
    std::vector<std::string> used;
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        const std::string& unit = variables_[i].unit;
        EXPECT_EQ(unit, definition->realVariables[i].unit) << variables_[i].name;
        if (!unit.empty() && std::find(used.begin(), used.end(), unit) == used.end()) {
            used.push_back(unit);
        }
    }
    if (fmiVersion() == 3) {
        ASSERT_EQ(independents_.size(), 1U);
        EXPECT_STREQ(independents_.front().attribute("unit").value(), "s");
        if (std::find(used.begin(), used.end(), "s") == used.end()) {
            used.emplace_back("s");
        }
    }
    std::vector<std::string> defined;
    for (const pugi::xml_node& unit : root_.child("UnitDefinitions").children()) {
        if (fmiVersion() == 1) {
            EXPECT_STREQ(unit.name(), "BaseUnit");
            EXPECT_EQ(childNames(unit), std::vector<std::string>{});
            defined.emplace_back(unit.attribute("unit").value());
            continue;
        }
        EXPECT_STREQ(unit.name(), "Unit");
        defined.emplace_back(unit.attribute("name").value());
        ASSERT_EQ(childNames(unit), std::vector<std::string>{"BaseUnit"});
        const pugi::xml_node base = unit.child("BaseUnit");
        const std::array<int, 3> exponents = {base.attribute("kg").as_int(),
                                              base.attribute("m").as_int(),
                                              base.attribute("s").as_int()};
        ASSERT_EQ(kBaseUnits.count(defined.back()), 1U) << defined.back();
        EXPECT_EQ(exponents, kBaseUnits.at(defined.back())) << defined.back();
    }
    EXPECT_EQ(defined, used);
}

// The generator refuses a unit it cannot define rather than describe it wrongly.
TEST(UnitsModelDescription, UnknownUnitFailsTheGenerator) {
    for (const char* unknown : {"furlong", "kN", "N*m", "", "n"}) {
        EXPECT_THROW(description::baseUnitsOf(unknown), std::runtime_error) << unknown;
    }
}

TEST_P(ModelDescription, NamesTimeAsTheIndependentVariableFrom30On) {
    if (fmiVersion() < 3) {
        EXPECT_TRUE(independents_.empty());
        return;
    }
    ASSERT_EQ(independents_.size(), 1U);
    const pugi::xml_node time = independents_.front();
    EXPECT_STREQ(time.name(), "Float64");
    EXPECT_STREQ(time.attribute("name").value(), "time");
    EXPECT_STREQ(time.attribute("variability").value(), "continuous");
    EXPECT_FALSE(time.attribute("start"));
    EXPECT_FALSE(time.attribute("initial"));
    EXPECT_EQ(time.attribute("valueReference").as_uint(), variables_.size())
        << "the value reference after the model's reals";
}

TEST_P(Fmi1ModelDescription, AgreesWithTheLoadedLibrary) {
    SlaveLibrary library;
    std::string error;
    ASSERT_TRUE(library.load(libraryPath(), error)) << error;
    const std::string identifier = root_.attribute("modelIdentifier").value();
    EXPECT_NE(library.symbol((identifier + "_fmiDoStep").c_str()), nullptr);
    EXPECT_STREQ(library.fmi().getVersion(), root_.attribute("fmiVersion").value());
    EXPECT_STREQ(library.fmi().getTypesPlatform(), "standard32");

    // The library takes the description's GUID, and only that.
    const std::string guid = root_.attribute("guid").value();
    std::string other = guid;
    other[1] = other[1] == '0' ? '1' : '0';
    EXPECT_EQ(library.fmi().instantiateSlave("slave", other.c_str(), "", "", 0.0, fmiFalse,
                                             fmiFalse, kCallbacks, fmiFalse),
              nullptr);
    const fmiComponent c = library.fmi().instantiateSlave("slave", guid.c_str(), "", "", 0.0,
                                                          fmiFalse, fmiFalse, kCallbacks, fmiFalse);
    ASSERT_NE(c, nullptr);

    // Every described value reference is one of the library's, and the
    // library has no more: the next one is refused.
    std::vector<fmiValueReference> references;
    for (const Variable& variable : variables_) {
        references.push_back(variable.valueReference);
    }
    std::vector<fmiReal> values(references.size(), -1.0);
    ASSERT_EQ(library.fmi().getReal(c, references.data(), references.size(), values.data()), fmiOK);
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        SCOPED_TRACE(variables_[i].name);
        EXPECT_EQ(bitsOf(values[i]), bitsOf(variables_[i].start.value_or(0.0)))
            << "the library starts at " << values[i];
    }
    ASSERT_EQ(library.fmi().initializeSlave(c, 0.0, fmiFalse, 0.0), fmiOK);
    ASSERT_EQ(library.fmi().terminateSlave(c), fmiOK);
    const auto beyond = static_cast<fmiValueReference>(variables_.size());
    fmiReal value = 0.0;
    loggedMessages.clear();
    EXPECT_EQ(library.fmi().getReal(c, &beyond, 1, &value), fmiError);
    EXPECT_EQ(loggedMessages.size(), 1U);
    // The refusal left the instance in Error, from which it cannot be freed.
}

TEST_P(ModelDescription, AgreesWithWhatTheTestsKnow) {
    const ModelFacts* facts = findModelFacts(model());
    ASSERT_NE(facts, nullptr);
    EXPECT_EQ(root_.attribute(version().tokenAttribute.c_str()).value(), facts->guid);
    ASSERT_EQ(variables_.size(), facts->realCount());
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        SCOPED_TRACE(variables_[i].name);
        const std::optional<fmiReal>& start = facts->startValues[i];
        if (roleOf(variables_[i]) == Role::Parameter) {
            ASSERT_TRUE(start.has_value());
            EXPECT_EQ(bitsOf(*start), bitsOf(*variables_[i].start));
        } else {
            EXPECT_FALSE(start.has_value());
        }
    }
    // The outputs are exactly what the force equations write.
    std::vector<fmiReal> before(variables_.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        before[i] = -1000.0 - static_cast<double>(i);
    }
    std::vector<fmiReal> after = before;
    facts->equation(after);
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        SCOPED_TRACE(variables_[i].name);
        EXPECT_EQ(bitsOf(before[i]) != bitsOf(after[i]), roleOf(variables_[i]) == Role::Output);
    }
}

TEST_P(ModelDescription, DocumentationNamesEveryVariable) {
    const std::string page = readFile(GetParam().stageDir() + "/" + version().documentationPage);
    ASSERT_FALSE(page.empty());
    EXPECT_NE(page.find(root_.attribute(version().tokenAttribute.c_str()).value()),
              std::string::npos);
    EXPECT_NE(page.find("<code>" + version().doStep + "</code>"), std::string::npos);
    for (const Variable& variable : variables_) {
        EXPECT_NE(page.find("<code>" + variable.name + "</code>"), std::string::npos)
            << variable.name;
        EXPECT_NE(page.find("</td><td>" + variable.unit + "</td><td>"), std::string::npos)
            << variable.name << "'s unit";
    }
    // The characteristic: a picture beside the page in the archive, nothing
    // from elsewhere, a curve for every output and the free band where the
    // forces vanish around rest.
    EXPECT_NE(page.find("<img src=\"characteristic.svg\""), std::string::npos);
    EXPECT_EQ(page.find("://"), std::string::npos);
    const std::string path = GetParam().stageDir() + "/documentation/characteristic.svg";
    pugi::xml_document picture;
    ASSERT_TRUE(picture.load_file(path.c_str())) << path;
    EXPECT_EQ(std::string(picture.document_element().name()), "svg");
    std::string texts = "\n";
    for (const pugi::xpath_node& text : picture.select_nodes("//tspan")) {
        texts += std::string(text.node().text().get()) + "\n";
    }
    for (const Variable& variable : variables_) {
        if (roleOf(variable) == Role::Output) {
            EXPECT_NE(texts.find("\n" + variable.name + "\n"), std::string::npos)
                << variable.name << " in the legend";
            EXPECT_NE(texts.find("\noutputs [" + variable.unit + "]\n"), std::string::npos);
        }
    }
    EXPECT_EQ(texts.find("\nfree band, -0.055 to 0.09\n") != std::string::npos,
              model() == "Pendrake");
}

TEST_P(LaterModelDescription, DeclaresTheLibrarysLogCategories) {
    const pugi::xml_node categories = root_.child("LogCategories");
    std::vector<Attributes> declared;
    for (const pugi::xml_node& category : categories.children()) {
        EXPECT_STREQ(category.name(), "Category");
        declared.push_back(attributesOf(category));
    }
    std::vector<Attributes> expected;
    for (const LogCategory& category : kLogCategories) {
        expected.push_back({{"name", category.name}, {"description", category.description}});
    }
    EXPECT_EQ(declared, expected);
}

TEST_P(LaterModelDescription, OutputsDependOnTheInputsTheirEquationsRead) {
    // While stepping, parameters are no knowns: they change only between steps.
    EXPECT_EQ(unknowns("Outputs", "Output"), expectedUnknowns({Role::Input}));
}

TEST_P(LaterModelDescription, InitialOutputsDependOnTheParametersAndInputsTheirEquationsRead) {
    EXPECT_EQ(unknowns("InitialUnknowns", "InitialUnknown"),
              expectedUnknowns({Role::Parameter, Role::Input}));
}

TEST_P(LaterModelDescription, ModelStructureHasOnlyOutputsAndInitialUnknowns) {
    const std::vector<std::string> children = childNames(root_.child("ModelStructure"));
    if (fmiVersion() == 2) {
        EXPECT_EQ(children, (std::vector<std::string>{"Outputs", "InitialUnknowns"}));
        return;
    }
    std::vector<std::string> expected;
    for (const char* element : {"Output", "InitialUnknown"}) {
        for (const Variable& variable : variables_) {
            if (roleOf(variable) == Role::Output) {
                expected.emplace_back(element);
            }
        }
    }
    EXPECT_EQ(children, expected);
}

INSTANTIATE_TEST_SUITE_P(Models, ModelDescription,
                         ::testing::ValuesIn(builtModelVersions({1, 2, 3})),
                         [](const auto& described) { return nameOf(described.param); });
INSTANTIATE_TEST_SUITE_P(Models, Fmi1ModelDescription, ::testing::ValuesIn(builtModelVersions({1})),
                         [](const auto& described) { return nameOf(described.param); });
INSTANTIATE_TEST_SUITE_P(Models, LaterModelDescription,
                         ::testing::ValuesIn(builtModelVersions({2, 3})),
                         [](const auto& described) { return nameOf(described.param); });
