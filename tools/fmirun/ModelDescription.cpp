#include "ModelDescription.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <set>

#include "Failure.h"
#include "Numbers.h"

namespace {

[[noreturn]] void refuse(const std::string& origin, const std::string& message) {
    throw Failure(kExitModel, origin + ": " + message);
}

// pugixml reports a byte offset; people want a line and a column.
std::string position(const std::string& text, std::ptrdiff_t offset) {
    const auto end = text.begin() + std::clamp<std::ptrdiff_t>(
                                        offset, 0, static_cast<std::ptrdiff_t>(text.size()));
    const auto line = std::count(text.begin(), end, '\n') + 1;
    const auto lastNewline = std::find(std::make_reverse_iterator(end), text.rend(), '\n');
    const auto column = std::distance(lastNewline.base(), end) + 1;
    return std::to_string(line) + ":" + std::to_string(column);
}

bool isIdentifier(const std::string& text) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text.front())) != 0) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
    });
}

double realAttribute(const pugi::xml_node& node, const char* name, const std::string& origin) {
    const std::optional<double> value = parseReal(node.attribute(name).value());
    if (!value) {
        refuse(origin, std::string("<") + node.name() + "> attribute " + name + "=\"" +
                           node.attribute(name).value() + "\" is not a finite number");
    }
    return *value;
}

// 1.0 marks a parameter by its variability; later versions by its causality.
Causality causalityOf(const pugi::xml_node& variable, int fmiVersion) {
    const std::string causality = variable.attribute("causality").as_string("local");
    if (causality == "input") {
        return Causality::Input;
    }
    if (causality == "output") {
        return Causality::Output;
    }
    if (fmiVersion == 1) {
        const std::string variability = variable.attribute("variability").as_string("continuous");
        return causality == "local" || causality == "internal"
                   ? (variability == "parameter" ? Causality::Parameter : Causality::Other)
                   : Causality::Other;
    }
    return causality == "parameter" ? Causality::Parameter : Causality::Other;
}

int versionOf(const pugi::xml_node& root, const std::string& origin) {
    const std::string version = root.attribute("fmiVersion").value();
    if (version == "1.0") {
        return 1;
    }
    if (version == "2.0") {
        return 2;
    }
    if (version == "3.0") {
        return 3;
    }
    refuse(origin,
           "fmiVersion is \"" + version + "\"; this master runs FMI 1.0, 2.0 and 3.0 slaves only");
}

// Where each version keeps the model identifier and the token that the
// library checks at instantiation.
void readIdentity(const pugi::xml_node& root, const std::string& origin, ModelDescription& model) {
    if (model.fmiVersion == 1) {
        if (!root.child("Implementation").child("CoSimulation_StandAlone")) {
            refuse(origin,
                   "not a stand-alone co-simulation slave (no "
                   "<Implementation><CoSimulation_StandAlone>)");
        }
        model.modelIdentifier = root.attribute("modelIdentifier").value();
        model.guid = root.attribute("guid").value();
        return;
    }
    const pugi::xml_node coSimulation = root.child("CoSimulation");
    const pugi::xml_node modelExchange = root.child("ModelExchange");
    if (!coSimulation && !modelExchange) {
        refuse(origin, "not a co-simulation FMU (no <CoSimulation>) nor a Model Exchange one");
    }
    model.coSimulation = static_cast<bool>(coSimulation);
    model.modelExchange = static_cast<bool>(modelExchange);
    model.modelExchangeIdentifier = modelExchange.attribute("modelIdentifier").value();
    model.modelIdentifier = coSimulation ? coSimulation.attribute("modelIdentifier").value()
                                         : model.modelExchangeIdentifier;
    // 2.0 lists the states' derivatives under <Derivatives> and counts the
    // event indicators; 3.0 lists both in <ModelStructure>.
    const pugi::xml_node structure = root.child("ModelStructure");
    const auto count = [](const pugi::xml_node& parent, const char* name) {
        std::size_t found = 0;
        for (const pugi::xml_node& child : parent.children(name)) {
            found += child ? 1 : 0;
        }
        return found;
    };
    if (model.fmiVersion == 2) {
        model.continuousStates = count(structure.child("Derivatives"), "Unknown");
        model.eventIndicators = root.attribute("numberOfEventIndicators").as_ullong(0);
    } else {
        model.continuousStates = count(structure, "ContinuousStateDerivative");
        model.eventIndicators = count(structure, "EventIndicator");
    }
    const char* const token = model.fmiVersion == 2 ? "guid" : "instantiationToken";
    model.guid = root.attribute(token).value();
    if (model.guid.empty()) {
        refuse(origin, std::string("no ") + token);
    }
}

// The element that holds a variable's type and start value: the <Real>
// inside a <ScalarVariable> up to 2.0, the <Float64> variable itself in 3.0.
// Null when the variable is of another type.
pugi::xml_node realOf(const pugi::xml_node& variable, int fmiVersion) {
    if (fmiVersion < 3) {
        return variable.child("Real");
    }
    return std::string(variable.name()) == "Float64" ? variable : pugi::xml_node();
}

bool isIndependent(const pugi::xml_node& variable) {
    return std::string(variable.attribute("causality").value()) == "independent";
}

// The variables' elements in the order of the description: every
// <ScalarVariable> up to 2.0, every typed element but the independent time
// in 3.0.
std::vector<pugi::xml_node> variableElements(const pugi::xml_node& root, int fmiVersion) {
    std::vector<pugi::xml_node> elements;
    for (const pugi::xml_node& node : root.child("ModelVariables").children()) {
        const bool wanted = fmiVersion < 3
                                ? std::string(node.name()) == "ScalarVariable"
                                : node.type() == pugi::node_element && !isIndependent(node);
        if (wanted) {
            elements.push_back(node);
        }
    }
    return elements;
}

}  // namespace

const char* causalityName(Causality causality) {
    switch (causality) {
        case Causality::Parameter:
            return "parameter";
        case Causality::Input:
            return "input";
        case Causality::Output:
            return "output";
        case Causality::Other:
            break;
    }
    return "internal variable";
}

const Variable* ModelDescription::find(const std::string& name) const {
    for (const Variable& variable : variables) {
        if (variable.name == name) {
            return &variable;
        }
    }
    return nullptr;
}

std::vector<const Variable*> ModelDescription::withCausality(Causality causality) const {
    std::vector<const Variable*> found;
    for (const Variable& variable : variables) {
        if (variable.causality == causality) {
            found.push_back(&variable);
        }
    }
    return found;
}

std::string ModelDescription::names(const std::vector<const Variable*>& variables) {
    std::string list;
    for (const Variable* variable : variables) {
        list += (list.empty() ? "" : ", ") + variable->name;
    }
    return list.empty() ? "none" : list;
}

ModelDescription parseModelDescription(const std::string& text, const std::string& origin) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed) {
        refuse(origin + ":" + position(text, parsed.offset),
               std::string("not well-formed XML: ") + parsed.description());
    }
    const pugi::xml_node root = document.document_element();
    if (std::string(root.name()) != "fmiModelDescription") {
        refuse(origin,
               std::string("the root element is <") + root.name() + ">, not <fmiModelDescription>");
    }
    ModelDescription model;
    model.fmiVersion = versionOf(root, origin);
    readIdentity(root, origin, model);
    model.modelName = root.attribute("modelName").value();
    model.description = root.attribute("description").value();
    if (!isIdentifier(model.modelIdentifier)) {
        refuse(origin, "modelIdentifier \"" + model.modelIdentifier + "\" is not a C identifier");
    }
    if (model.guid.empty()) {
        refuse(origin, "no guid");
    }
    if (const pugi::xml_node experiment = root.child("DefaultExperiment")) {
        if (experiment.attribute("startTime")) {
            model.defaultStartTime = realAttribute(experiment, "startTime", origin);
            model.defaultStartTimeText = experiment.attribute("startTime").value();
        }
        if (experiment.attribute("stopTime")) {
            model.defaultStopTime = realAttribute(experiment, "stopTime", origin);
            model.defaultStopTimeText = experiment.attribute("stopTime").value();
        }
        if (model.defaultStopTime &&
            !(*model.defaultStopTime > model.defaultStartTime.value_or(0.0))) {
            refuse(origin, "<DefaultExperiment> stopTime=\"" + model.defaultStopTimeText +
                               "\" is not after its start time " +
                               formatReal(model.defaultStartTime.value_or(0.0)));
        }
    }

    std::set<std::string> names;
    std::set<fmiValueReference> references;
    for (const pugi::xml_node& scalar : variableElements(root, model.fmiVersion)) {
        Variable variable;
        variable.name = scalar.attribute("name").value();
        variable.description = scalar.attribute("description").value();
        const std::string where = "variable \"" + variable.name + "\"";
        if (variable.name.empty()) {
            refuse(origin, "a variable without a name");
        }
        const pugi::xml_node real = realOf(scalar, model.fmiVersion);
        if (!real) {
            refuse(origin, where + (model.fmiVersion < 3 ? " is not Real; this master handles Real "
                                                           "variables only"
                                                         : " is not Float64; this master handles "
                                                           "Float64 variables only"));
        }
        const std::string reference = scalar.attribute("valueReference").value();
        if (reference.empty() ||
            !std::all_of(reference.begin(), reference.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) ||
            reference.size() > 10 || std::stoull(reference) > 0xFFFFFFFFULL) {
            refuse(origin, where + " has valueReference \"" + reference + "\"");
        }
        variable.valueReference = static_cast<fmiValueReference>(std::stoull(reference));
        variable.causality = causalityOf(scalar, model.fmiVersion);
        variable.unit = real.attribute("unit").value();
        if (real.attribute("start")) {
            variable.start = realAttribute(real, "start", origin);
        }
        if (!names.insert(variable.name).second) {
            refuse(origin, "two variables named \"" + variable.name + "\"");
        }
        if (!references.insert(variable.valueReference).second) {
            // Aliases share a reference; these slaves have none, and a
            // master that writes one would write the other too.
            refuse(origin, where + " shares value reference " + reference + " with another");
        }
        model.variables.push_back(variable);
    }
    if (model.variables.empty()) {
        refuse(origin, "no variables");
    }
    return model;
}
