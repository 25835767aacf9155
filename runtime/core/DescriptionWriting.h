// What the model-description writers of every FMI version share: the text
// forms of names and numbers, the generation time, the run a description
// proposes, and the page that documents a model's variables. Only the
// description generator is built from this; no slave library contains it.
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ModelDefinition.h"

namespace description {

// The project's version, from the build (CMakeLists.txt): the descriptions'
// `version` and their generation tool's.
#ifndef SLAVE_PROJECT_VERSION
#error "SLAVE_PROJECT_VERSION must give the project's version"
#endif
constexpr const char* kVersion = SLAVE_PROJECT_VERSION;
constexpr const char* kGenerationTool = "describe (chassis force slaves " SLAVE_PROJECT_VERSION ")";

// The run that the command-line master makes when asked for none in
// particular: its default scenarios last this long, one communication point
// every hundredth of a second.
constexpr const char* kDefaultStartTime = "0";
constexpr const char* kDefaultStopTime = "4";
constexpr const char* kDefaultStepSize = "0.01";

// The demonstration's inputs (ModelDefinition.h) and its title, in each
// archive's documentation folder.
constexpr const char* kDemonstrationFile = "demonstration.csv";
constexpr const char* kDemonstrationTitleFile = "demonstration.txt";

// Text for an XML or HTML attribute or element, with the five markup
// characters escaped.
std::string escaped(std::string_view text);

// The shortest decimal that reads back as the same double, so that a master
// parsing the description gets the library's start values bit for bit.
std::string decimal(Real value);

// An xs:dateTime in UTC: SOURCE_DATE_EPOCH when that is set, for
// reproducible archives, and the current time otherwise.
std::string generationDateAndTime();

// A fresh instance holds zero in every variable without a start value;
// importers want to know what an unconnected input holds.
Real inputStartValue(const RealVariable& variable);

// The value references in `set` whose variables have one of the causalities
// given, in increasing order.
std::vector<ValueReference> referencesOf(const ModelDefinition& model, ValueReferenceSet set,
                                         std::initializer_list<Causality> causalities);

// The causality, variability and initial attributes of a variable in FMI
// 2.0 and 3.0. A parameter may be set again between steps, and the next step
// computes with it; inputs and outputs change with time. An output is
// computed by the slave, so it has no start value of its own.
const char* roleAttributes(Causality causality);

// The <LogCategories> of FMI 2.0 and 3.0, the same in both.
void writeLogCategories(std::ostream& out);

// The numbers separated by single spaces, as XML lists are written.
std::string spaceSeparated(const std::vector<ValueReference>& numbers);

// `word` `count` times, separated by single spaces.
std::string repeated(std::string_view word, std::size_t count);

// A unit in SI base units: the exponents of kilogram, metre and second, all
// that the units of chassis force elements need.
struct BaseUnits {
    const char* symbol;
    int kg;
    int m;
    int s;
};

// The base units of a unit symbol as the variable tables write it ("N",
// "N/m", "N.s/m", ...). Throws std::runtime_error naming a symbol that the
// table of known units lacks: a description with a unit it cannot define
// would be wrong.
const BaseUnits& baseUnitsOf(const char* symbol);

// The units the model's variables use, each once, in the order of their
// first use in the variable table; every one known (baseUnitsOf).
std::vector<const BaseUnits*> unitsOf(const ModelDefinition& model);

// ` unit="..."` for a variable with a unit, nothing for one without.
std::string unitAttribute(const RealVariable& variable);

// The <UnitDefinitions> of FMI 2.0 and 3.0 (nothing when no variable has a
// unit): each unit with its SI base-unit exponents, the same in both, and
// `alsoUsed` (if not null) after the model's own when they lack it.
void writeUnitDefinitions(std::ostream& out, const ModelDefinition& model,
                          const char* alsoUsed = nullptr);

// What the documentation page says differently for each FMI version.
struct DocumentationVersion {
    // HTML: what kind of FMU this is, up to the name of its token.
    const char* kind;
    // What the version calls the string a master hands to instantiation.
    const char* tokenName;
    // The platform folders of the binaries in every archive (null after the
    // last).
    const char* platforms[4];
    // HTML: when the outputs are computed, after "its outputs are".
    const char* outputsComputed;
    // HTML: a paragraph on the platforms the archive has no binary for, or
    // null.
    const char* otherPlatforms = nullptr;
};

void writeDocumentation(std::ostream& out, const ModelDefinition& model,
                        const DocumentationVersion& version);

}  // namespace description

// One writer per FMI version, each in that version's part of the runtime.
namespace fmi1 {
void writeModelDescription(std::ostream& out, const ModelDefinition& model);
void writeDocumentation(std::ostream& out, const ModelDefinition& model);
}  // namespace fmi1

namespace fmi2 {
void writeModelDescription(std::ostream& out, const ModelDefinition& model);
void writeDocumentation(std::ostream& out, const ModelDefinition& model);
}  // namespace fmi2

namespace fmi3 {
void writeModelDescription(std::ostream& out, const ModelDefinition& model);
void writeDocumentation(std::ostream& out, const ModelDefinition& model);
}  // namespace fmi3
