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

Causality causalityOf(const pugi::xml_node& scalar) {
    const std::string causality = scalar.attribute("causality").as_string("internal");
    const std::string variability = scalar.attribute("variability").as_string("continuous");
    if (causality == "input") {
        return Causality::Input;
    }
    if (causality == "output") {
        return Causality::Output;
    }
    if (causality == "internal" && variability == "parameter") {
        return Causality::Parameter;
    }
    return Causality::Other;
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
    const std::string version = root.attribute("fmiVersion").value();
    if (version != "1.0") {
        refuse(origin, "fmiVersion is \"" + version + "\"; this master runs FMI 1.0 slaves only");
    }
    if (!root.child("Implementation").child("CoSimulation_StandAlone")) {
        refuse(origin,
               "not a stand-alone co-simulation slave (no "
               "<Implementation><CoSimulation_StandAlone>)");
    }

    ModelDescription model;
    model.modelIdentifier = root.attribute("modelIdentifier").value();
    model.modelName = root.attribute("modelName").value();
    model.guid = root.attribute("guid").value();
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
    for (const pugi::xml_node& scalar : root.child("ModelVariables").children("ScalarVariable")) {
        Variable variable;
        variable.name = scalar.attribute("name").value();
        variable.description = scalar.attribute("description").value();
        const std::string where = "variable \"" + variable.name + "\"";
        if (variable.name.empty()) {
            refuse(origin, "a variable without a name");
        }
        const pugi::xml_node real = scalar.child("Real");
        if (!real) {
            refuse(origin, where + " is not Real; this master handles Real variables only");
        }
        const std::string reference = scalar.attribute("valueReference").value();
        if (reference.empty() ||
            !std::all_of(reference.begin(), reference.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) ||
            reference.size() > 10 || std::stoull(reference) > 0xFFFFFFFFULL) {
            refuse(origin, where + " has valueReference \"" + reference + "\"");
        }
        variable.valueReference = static_cast<fmiValueReference>(std::stoull(reference));
        variable.causality = causalityOf(scalar);
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
