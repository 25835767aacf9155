# add_model_registry(<target> <identifier>...)
#
# A static library holding the definitions of the models named, each compiled
# from its own file under a name of its own, and one table of them all: the
# test master, the fuzz target and the benchmarks learn every model from it
# (ModelRegistry.h), so that none of them names a model. A model's sources are
# SLAVE_MODEL_SOURCES_<identifier>.
set(MODEL_REGISTRY_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../runtime/core
                               ${CMAKE_CURRENT_LIST_DIR}/../tests/master)

function(add_model_registry target)
  set(dir ${CMAKE_BINARY_DIR}/model-registry/${target})
  set(sources)
  set(declarations)
  set(entries)
  foreach(model IN LISTS ARGN)
    # Each definition under its own symbol: every model file defines the
    # one `modelDefinition` its library exports to the runtime.
    set(wrapper ${dir}/${model}.cpp)
    set(source ${SLAVE_MODEL_SOURCES_${model}})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
    file(CONFIGURE OUTPUT ${wrapper} CONTENT
         "#define modelDefinition modelDefinitionOf${model}\n#include \"${source}\"\n" @ONLY)
    list(APPEND sources ${wrapper})
    string(APPEND declarations "extern const ModelDefinition modelDefinitionOf${model};\n")
    string(APPEND entries "    &modelDefinitionOf${model},\n")
  endforeach()
  file(CONFIGURE OUTPUT ${dir}/ModelRegistry.cpp CONTENT [=[
#include "ModelRegistry.h"

@declarations@
namespace {
const ModelDefinition* const kModels[] = {
@entries@};
}  // namespace

std::size_t registeredModelCount() {
    return sizeof kModels / sizeof kModels[0];
}

const ModelDefinition& registeredModel(std::size_t index) {
    return *kModels[index];
}
]=] @ONLY)
  add_library(${target} STATIC ${sources} ${dir}/ModelRegistry.cpp)
  target_include_directories(${target} PUBLIC ${MODEL_REGISTRY_INCLUDE_DIR})
  target_compile_options(${target} PRIVATE ${SLAVE_WARNINGS})
endfunction()
