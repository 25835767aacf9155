// The model's demonstration as the archives carry it: a CSV table of its
// inputs that any master can read (FMPy's and fmusim's --input-file, fmirun
// when given no inputs), and its title.
#pragma once

#include <ostream>

#include "ModelDefinition.h"

namespace demonstration {

// Writes "time,<input>,..." and the rows: for inputs given as a formula,
// one at every communication point of the default experiment, its time the
// very double that fmirun's time grid computes there (so that a run on that
// grid meets each row's time exactly and takes its values unchanged); for
// breakpoints, one per breakpoint. Every number reads back as the same
// double. The model must have a demonstration.
void writeTable(std::ostream& out, const ModelDefinition& model);

}  // namespace demonstration
