// The model descriptions: well-formed FMI 1.0 co-simulation descriptions that
// importers accept, and in agreement with the libraries they describe and
// with what the tests know of each model independently.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FmiTypes.h"
#include "ModelFacts.h"
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
    std::optional<double> start;
    std::string fixed;
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

::testing::AssertionResult onlyKnownAttributes(const pugi::xml_node& node,
                                               const std::set<std::string>& allowed) {
    for (const std::string& name : attributeNames(node)) {
        if (allowed.count(name) == 0) {
            return ::testing::AssertionFailure() << "<" << node.name() << "> has attribute " << name
                                                 << ", which FMI 1.0 does not define there";
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

class ModelDescription : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        const std::string path = binaryDir() + "/fmu/" + GetParam() + "/modelDescription.xml";
        const pugi::xml_parse_result parsed = document_.load_file(path.c_str());
        ASSERT_TRUE(parsed) << path << ": " << parsed.description() << " at byte " << parsed.offset;
        root_ = document_.document_element();
        for (const pugi::xml_node& scalar : root_.child("ModelVariables").children()) {
            if (scalar.type() != pugi::node_element) {
                continue;
            }
            const pugi::xml_node real = scalar.child("Real");
            Variable variable{scalar.attribute("name").value(),
                              scalar.attribute("valueReference").as_uint(),
                              scalar.attribute("causality").value(),
                              scalar.attribute("variability").value(),
                              std::nullopt,
                              real.attribute("fixed").value()};
            if (const pugi::xml_attribute start = real.attribute("start")) {
                variable.start = parsedDouble(start.value());
            }
            variables_.push_back(variable);
        }
        loggedMessages.clear();
    }

    void TearDown() override {
        for (void* block : liveBlocks) {
            std::free(block);
        }
        liveBlocks.clear();
    }

    std::string libraryPath() const {
        return binaryDir() + "/" + GetParam() + ".so";
    }

    pugi::xml_document document_;
    pugi::xml_node root_;
    std::vector<Variable> variables_;
};

}  // namespace

TEST_P(ModelDescription, IsAnFmi10CoSimulationDescription) {
    EXPECT_STREQ(root_.name(), "fmiModelDescription");
    EXPECT_TRUE(onlyKnownAttributes(
        root_, {"fmiVersion", "modelName", "modelIdentifier", "guid", "description", "author",
                "version", "generationTool", "generationDateAndTime", "variableNamingConvention",
                "numberOfContinuousStates", "numberOfEventIndicators"}));
    EXPECT_STREQ(root_.attribute("fmiVersion").value(), "1.0");
    EXPECT_STREQ(root_.attribute("modelIdentifier").value(), GetParam().c_str());
    EXPECT_STRNE(root_.attribute("modelName").value(), "");
    EXPECT_STRNE(root_.attribute("description").value(), "");
    EXPECT_STRNE(root_.attribute("generationTool").value(), "");
    EXPECT_STREQ(root_.attribute("numberOfContinuousStates").value(), "0");
    EXPECT_STREQ(root_.attribute("numberOfEventIndicators").value(), "0");
    EXPECT_TRUE(isDateTime(root_.attribute("generationDateAndTime").value()))
        << root_.attribute("generationDateAndTime").value();

    // The schema's order, and nothing else at this level.
    EXPECT_EQ(childNames(root_),
              (std::vector<std::string>{"DefaultExperiment", "ModelVariables", "Implementation"}));
    const pugi::xml_node experiment = root_.child("DefaultExperiment");
    EXPECT_TRUE(onlyKnownAttributes(experiment, {"startTime", "stopTime", "tolerance"}));
    EXPECT_LT(experiment.attribute("startTime").as_double(),
              experiment.attribute("stopTime").as_double());

    const pugi::xml_node implementation = root_.child("Implementation");
    EXPECT_EQ(childNames(implementation), std::vector<std::string>{"CoSimulation_StandAlone"});
    const pugi::xml_node standAlone = implementation.child("CoSimulation_StandAlone");
    EXPECT_EQ(childNames(standAlone), std::vector<std::string>{"Capabilities"});
    const pugi::xml_node capabilities = standAlone.child("Capabilities");
    // canSignalEvents is left out: a widely used checker rejects it whatever its value.
    EXPECT_EQ(attributeNames(capabilities),
              (std::set<std::string>{
                  "canHandleVariableCommunicationStepSize", "canHandleEvents", "canRejectSteps",
                  "canInterpolateInputs", "maxOutputDerivativeOrder", "canRunAsynchronuously",
                  "canBeInstantiatedOnlyOncePerProcess", "canNotUseMemoryManagementFunctions"}));
    EXPECT_STREQ(capabilities.attribute("canHandleVariableCommunicationStepSize").value(), "true");
    EXPECT_STREQ(capabilities.attribute("canRejectSteps").value(), "false");
    EXPECT_STREQ(capabilities.attribute("canInterpolateInputs").value(), "false");
    EXPECT_STREQ(capabilities.attribute("maxOutputDerivativeOrder").value(), "0");
    EXPECT_STREQ(capabilities.attribute("canRunAsynchronuously").value(), "false");
    EXPECT_STREQ(capabilities.attribute("canBeInstantiatedOnlyOncePerProcess").value(), "false");
    EXPECT_STREQ(capabilities.attribute("canNotUseMemoryManagementFunctions").value(), "false");
}

TEST_P(ModelDescription, VariablesFollowTheirRoles) {
    ASSERT_FALSE(variables_.empty());
    std::set<std::string> names;
    for (const pugi::xml_node& scalar : root_.child("ModelVariables").children()) {
        SCOPED_TRACE(scalar.attribute("name").value());
        EXPECT_STREQ(scalar.name(), "ScalarVariable");
        EXPECT_TRUE(onlyKnownAttributes(scalar, {"name", "valueReference", "description",
                                                 "variability", "causality", "alias"}));
        EXPECT_EQ(childNames(scalar), std::vector<std::string>{"Real"});
        EXPECT_TRUE(onlyKnownAttributes(
            scalar.child("Real"), {"declaredType", "quantity", "unit", "displayUnit",
                                   "relativeQuantity", "min", "max", "nominal", "start", "fixed"}));
        EXPECT_STRNE(scalar.attribute("description").value(), "");
    }
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        const Variable& variable = variables_[i];
        SCOPED_TRACE(variable.name);
        EXPECT_TRUE(isIdentifier(variable.name));
        EXPECT_TRUE(names.insert(variable.name).second) << "name used twice";
        EXPECT_EQ(variable.valueReference, i) << "value references are dense and in order";
        if (variable.causality == "internal") {
            EXPECT_EQ(variable.variability, "parameter");
            EXPECT_TRUE(variable.start.has_value());
            EXPECT_EQ(variable.fixed, "true");
        } else if (variable.causality == "input") {
            EXPECT_EQ(variable.variability, "continuous");
            ASSERT_TRUE(variable.start.has_value()) << "an input without a start value";
            EXPECT_EQ(bitsOf(*variable.start), bitsOf(0.0));
        } else {
            EXPECT_EQ(variable.causality, "output");
            EXPECT_EQ(variable.variability, "continuous");
            EXPECT_FALSE(variable.start.has_value());
        }
    }
}

TEST_P(ModelDescription, AgreesWithTheLoadedLibrary) {
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
    const ModelFacts* facts = findModelFacts(GetParam());
    ASSERT_NE(facts, nullptr);
    EXPECT_EQ(root_.attribute("guid").value(), facts->guid);
    ASSERT_EQ(variables_.size(), facts->realCount());
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        SCOPED_TRACE(variables_[i].name);
        const std::optional<fmiReal>& start = facts->startValues[i];
        if (variables_[i].causality == "internal") {
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
        EXPECT_EQ(bitsOf(before[i]) != bitsOf(after[i]), variables_[i].causality == "output");
    }
}

TEST_P(ModelDescription, DocumentationNamesEveryVariable) {
    const std::string page =
        readFile(binaryDir() + "/fmu/" + GetParam() + "/documentation/_main.html");
    ASSERT_FALSE(page.empty());
    EXPECT_NE(page.find(root_.attribute("guid").value()), std::string::npos);
    for (const Variable& variable : variables_) {
        EXPECT_NE(page.find("<code>" + variable.name + "</code>"), std::string::npos)
            << variable.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Models, ModelDescription, ::testing::ValuesIn(builtModels()),
                         [](const auto& model) { return model.param; });
