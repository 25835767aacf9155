# add_fmi_slave(<model identifier> [FMI_VERSION 1|2|3] SOURCES <model sources>...)
#
# Makes one slave library: the version-independent core of the runtime and
# the front-end of one FMI version (1.0 by default), compiled with the model
# identifier, linked with one model. The runtime's sources are the same for
# every model. An FMI 1.0 library is the target <identifier>; a library of a
# later version is the target <identifier>_fmi<version>, written as
# fmi<version>/<identifier>.so (or .dll) in the build directory, since every
# version names its file after the model identifier alone.
set(SLAVE_RUNTIME_DIR ${CMAKE_CURRENT_LIST_DIR}/../runtime)
set(SLAVE_CORE_SOURCES ${SLAVE_RUNTIME_DIR}/core/FloatingPoint.cpp)
set(SLAVE_FMI1_SOURCES
    ${SLAVE_RUNTIME_DIR}/fmi1/SlaveInstance.cpp
    ${SLAVE_RUNTIME_DIR}/fmi1/Lifecycle.cpp
    ${SLAVE_RUNTIME_DIR}/fmi1/VariableAccess.cpp
    ${SLAVE_RUNTIME_DIR}/fmi1/Stepping.cpp
    ${SLAVE_RUNTIME_DIR}/fmi1/LoadTimeFloatingPoint.cpp)
file(GLOB SLAVE_FMI2_SOURCES CONFIGURE_DEPENDS ${SLAVE_RUNTIME_DIR}/fmi2/*.cpp)
file(GLOB SLAVE_FMI3_SOURCES CONFIGURE_DEPENDS ${SLAVE_RUNTIME_DIR}/fmi3/*.cpp)
list(FILTER SLAVE_FMI2_SOURCES EXCLUDE REGEX "Description\\.cpp$")
list(FILTER SLAVE_FMI3_SOURCES EXCLUDE REGEX "Description\\.cpp$")

# What the slaves' code is compiled with beyond the build's own options: no
# exceptions, RTTI or guarded statics. The benchmarks' floor takes the same.
set(SLAVE_CODE_OPTIONS -fno-exceptions -fno-rtti -fno-threadsafe-statics)

# The target name of a model's library for an FMI version.
function(fmi_slave_target out identifier version)
  if(version STREQUAL "1")
    set(${out} ${identifier} PARENT_SCOPE)
  else()
    set(${out} ${identifier}_fmi${version} PARENT_SCOPE)
  endif()
endfunction()

function(add_fmi_slave identifier)
  cmake_parse_arguments(PARSE_ARGV 1 SLAVE "" "FMI_VERSION" "SOURCES")
  if(NOT SLAVE_FMI_VERSION)
    set(SLAVE_FMI_VERSION 1)
  endif()
  fmi_slave_target(target ${identifier} ${SLAVE_FMI_VERSION})
  add_library(${target} SHARED ${SLAVE_CORE_SOURCES} ${SLAVE_FMI${SLAVE_FMI_VERSION}_SOURCES}
                               ${SLAVE_SOURCES})
  target_include_directories(${target} PRIVATE ${SLAVE_RUNTIME_DIR}/core
                                               ${SLAVE_RUNTIME_DIR}/fmi${SLAVE_FMI_VERSION})
  target_compile_definitions(${target} PRIVATE MODEL_IDENTIFIER=${identifier})
  target_compile_options(${target} PRIVATE ${SLAVE_WARNINGS} ${SLAVE_CODE_OPTIONS}
    -fvisibility=hidden -fvisibility-inlines-hidden)
  # Named as FMI tools expect: <modelIdentifier>.so / <modelIdentifier>.dll.
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${identifier})
  if(NOT SLAVE_FMI_VERSION STREQUAL "1")
    set_target_properties(${target} PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fmi${SLAVE_FMI_VERSION}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fmi${SLAVE_FMI_VERSION})
  endif()
  if(WIN32)
    # Only the Universal CRT: no msvcrt start files, no libgcc or libstdc++ DLLs.
    target_sources(${target} PRIVATE ${SLAVE_RUNTIME_DIR}/core/WindowsEntry.cpp)
    target_link_options(${target} PRIVATE
      -nostdlib -Wl,--entry=DllMainCRTStartup -Wl,--no-undefined)
    target_link_libraries(${target} PRIVATE ucrt gcc)
  else()
    # Linked by the C driver: nothing of the C++ runtime may be needed.
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
    target_link_options(${target} PRIVATE
      -static-libgcc -Wl,--no-undefined -Wl,--as-needed -Wl,-z,noexecstack)
  endif()
endfunction()
