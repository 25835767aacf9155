// Every model a program of the build knows, with its definition exactly as
// its file states it, in the order of the build's list of models.
#pragma once

#include <cstddef>
#include <cstring>

#include "ModelDefinition.h"

std::size_t registeredModelCount();
const ModelDefinition& registeredModel(std::size_t index);

// The model of that identifier, or null.
inline const ModelDefinition* findRegisteredModel(const char* identifier) {
    for (std::size_t i = 0; i < registeredModelCount(); ++i) {
        if (std::strcmp(registeredModel(i).modelIdentifier, identifier) == 0) {
            return &registeredModel(i);
        }
    }
    return nullptr;
}
