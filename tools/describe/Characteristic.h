// The characteristic of a model for its documentation page, worked out from
// its own equations at its start values: every output over the input it
// depends on, or over the difference of the two it depends on.
#pragma once

#include <string>

#include "ModelDefinition.h"
#include "Plot.h"

namespace characteristic {

// The displacements the picture spans: -kReach to kReach.
constexpr double kReach = 0.15;

plot::Figure of(const ModelDefinition& model);

// What the page says under the picture.
std::string caption(const ModelDefinition& model);

}  // namespace characteristic
