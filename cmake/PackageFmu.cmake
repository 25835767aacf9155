# add_fmu_archives(<model identifier>...)
#
# Makes the co-simulation archives of each model in the build directory, one
# per FMI version whose library the build defines, each with its model
# description at the root, a page documenting the variables with the picture
# of the model's characteristic under its table (documentation/characteristic.svg,
# drawn with the plot library of ../tools/plot), the model's demonstration
# (documentation/demonstration.csv and .txt, for a model that declares one),
# and the model's library for three platforms:
#
#   <identifier>.fmu       FMI 1.0, documentation/_main.html,
#                          binaries/linux32, linux64, win64
#   <identifier>-fmi2.fmu  FMI 2.0 (target <identifier>_fmi2),
#                          documentation/index.html, the same platform folders
#   <identifier>-fmi3.fmu  FMI 3.0 (target <identifier>_fmi3),
#                          documentation/index.html, binaries/x86-linux,
#                          x86_64-linux, x86_64-windows and aarch64-linux
#                          (FMI 3.0 alone names an ARM platform), and the
#                          library's source code in sources/ (FmuSources.cmake)
#
# The 64-bit Linux library is this build's own; the others come from builds
# of the same sources with the linux32, win64 and aarch64 toolchains, nested in
# this build directory (platforms/<platform>) and run by every build, so that
# one build of this directory makes complete archives. The descriptions of
# every version are written whether or not the build packs that version, so
# they are checked before its library exists. Call this after the libraries'
# targets are defined: a version is packed only where its target exists.
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/FmuSources.cmake)

set(FMU_TOOLCHAINS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(FMU_RUNTIME_DIR ${CMAKE_CURRENT_LIST_DIR}/../runtime)
set(FMU_DESCRIBE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../tools/describe/Describe.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../tools/describe/Characteristic.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../tools/describe/Demonstration.cpp
    ${FMU_RUNTIME_DIR}/core/DescriptionWriting.cpp
    ${FMU_RUNTIME_DIR}/fmi1/Description.cpp
    ${FMU_RUNTIME_DIR}/fmi2/Description.cpp
    ${FMU_RUNTIME_DIR}/fmi3/Description.cpp)

# The platforms other than this build's, with their toolchain files and
# library suffixes.
set(FMU_FOREIGN_PLATFORMS linux32 win64 aarch64)
set(FMU_SUFFIX_linux32 .so)
set(FMU_SUFFIX_win64 .dll)
set(FMU_SUFFIX_aarch64 .so)

# Per FMI version: the documentation page, and the binaries folders in the
# order of the builds that fill them (linux32, this build, win64).
set(FMU_DOCUMENTATION_1 documentation/_main.html)
set(FMU_DOCUMENTATION_2 documentation/index.html)
set(FMU_DOCUMENTATION_3 documentation/index.html)
set(FMU_CHARACTERISTIC documentation/characteristic.svg)
# A model's demonstration: its inputs as a table, and the title of it.
set(FMU_DEMONSTRATION documentation/demonstration.csv documentation/demonstration.txt)
set(FMU_FOLDERS_1 linux32 linux64 win64)
set(FMU_FOLDERS_2 linux32 linux64 win64)
set(FMU_FOLDERS_3 x86-linux x86_64-linux x86_64-windows)

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
find_package(CLI11 REQUIRED)

# Where a build directory keeps a model's library of an FMI version.
function(fmu_library_path out build_dir model version suffix)
  if(version STREQUAL "1")
    set(${out} ${build_dir}/${model}${suffix} PARENT_SCOPE)
  else()
    set(${out} ${build_dir}/fmi${version}/${model}${suffix} PARENT_SCOPE)
  endif()
endfunction()

# The FMI versions of a model that this build packs: 1.0 always, a later one
# where the model's library of that version is a target.
function(fmu_packed_versions out model)
  set(versions 1)
  foreach(version 2 3)
    fmi_slave_target(target ${model} ${version})
    if(TARGET ${target})
      list(APPEND versions ${version})
    endif()
  endforeach()
  set(${out} ${versions} PARENT_SCOPE)
endfunction()

function(add_fmu_describer model)
  # The description comes from the model's own sources: the generator is
  # compiled with them and the runtime's version-independent core.
  set(sources)
  foreach(source IN LISTS SLAVE_MODEL_SOURCES_${model})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
    list(APPEND sources ${source})
  endforeach()
  add_executable(describe_${model} ${FMU_DESCRIBE_SOURCES} ${sources})
  target_include_directories(describe_${model} PRIVATE ${FMU_RUNTIME_DIR}/core)
  # The one build that keeps the model's demonstration (ModelDefinition.h).
  target_compile_definitions(describe_${model} PRIVATE MODEL_IDENTIFIER=${model}
                                                        SLAVE_PROJECT_VERSION="${PROJECT_VERSION}"
                                                        SLAVE_DESCRIBE_MODEL)
  target_compile_options(describe_${model} PRIVATE ${SLAVE_WARNINGS})
  # fmirun's core for its time grid: the demonstration's rows lie exactly on it.
  target_link_libraries(describe_${model} PRIVATE CLI11::CLI11 plot fmirun_core)
  set_target_properties(describe_${model} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endfunction()

# What the names of a model's archive and stage directory of an FMI version
# add to its identifier: nothing for 1.0, -fmi<version> otherwise. Callable
# from any directory, as the tests of the archives are elsewhere.
function(fmu_archive_suffix out version)
  if(version STREQUAL "1")
    set(${out} "" PARENT_SCOPE)
  else()
    set(${out} -fmi${version} PARENT_SCOPE)
  endif()
endfunction()

# The file name of a model's archive of an FMI version.
function(fmu_archive_name out model version)
  fmu_archive_suffix(suffix ${version})
  set(${out} ${model}${suffix}.fmu PARENT_SCOPE)
endfunction()

# The name of a per-version target of a model: <model>_<kind> for FMI 1.0,
# <model>_fmi<version>_<kind> for a later version.
function(fmu_version_target out model version kind)
  if(version STREQUAL "1")
    set(${out} ${model}_${kind} PARENT_SCOPE)
  else()
    set(${out} ${model}_fmi${version}_${kind} PARENT_SCOPE)
  endif()
endfunction()

# The documentation entries of a model's archives: the page, the picture
# and, for a model that declares one (MODEL_DEMONSTRATION in its file), the
# demonstration.
function(fmu_documentation_entries out model version)
  set(entries ${FMU_DOCUMENTATION_${version}} ${FMU_CHARACTERISTIC})
  foreach(source IN LISTS SLAVE_MODEL_SOURCES_${model})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
    file(STRINGS ${source} demonstrated REGEX "MODEL_DEMONSTRATION\\(")
    if(demonstrated)
      list(APPEND entries ${FMU_DEMONSTRATION})
    endif()
  endforeach()
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# Writes the description and page of one version into its stage directory.
function(add_fmu_description model version)
  fmu_archive_suffix(suffix ${version})
  set(stage ${CMAKE_BINARY_DIR}/fmu/${model}${suffix})
  set(description ${stage}/modelDescription.xml)
  set(documentation ${stage}/${FMU_DOCUMENTATION_${version}})
  set(characteristic ${stage}/${FMU_CHARACTERISTIC})
  fmu_documentation_entries(entries ${model} ${version})
  set(demonstration_option)
  set(demonstration_outputs)
  if(entries MATCHES "demonstration")
    list(GET FMU_DEMONSTRATION 0 table)
    set(demonstration_option --demonstration ${stage}/${table})
    foreach(entry IN LISTS FMU_DEMONSTRATION)
      list(APPEND demonstration_outputs ${stage}/${entry})
    endforeach()
  endif()
  add_custom_command(
    OUTPUT ${description} ${documentation} ${characteristic} ${demonstration_outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/documentation
    COMMAND describe_${model} --fmi-version ${version} --xml ${description}
            --html ${documentation} --svg ${characteristic} ${demonstration_option}
    DEPENDS describe_${model}
    COMMENT "Describing ${model} for FMI ${version}"
    VERBATIM)
  fmu_version_target(target ${model} ${version} description)
  add_custom_target(${target} ALL DEPENDS ${description} ${documentation} ${characteristic}
                                          ${demonstration_outputs})
endfunction()

# Packs the stage of one version with the libraries of the three builds.
function(add_fmu_archive model version)
  fmu_archive_suffix(suffix ${version})
  set(stage ${CMAKE_BINARY_DIR}/fmu/${model}${suffix})
  set(documentation ${FMU_DOCUMENTATION_${version}})
  fmi_slave_target(library ${model} ${version})
  list(GET FMU_FOLDERS_${version} 0 linux32_folder)
  list(GET FMU_FOLDERS_${version} 1 linux64_folder)
  list(GET FMU_FOLDERS_${version} 2 win64_folder)
  fmu_library_path(linux32_library ${CMAKE_BINARY_DIR}/platforms/linux32 ${model} ${version} .so)
  fmu_library_path(win64_library ${CMAKE_BINARY_DIR}/platforms/win64 ${model} ${version} .dll)
  set(linux32_entry binaries/${linux32_folder}/${model}.so)
  set(linux64_entry binaries/${linux64_folder}/${model}.so)
  set(win64_entry binaries/${win64_folder}/${model}.dll)

  fmu_documentation_entries(documentation_entries ${model} ${version})
  set(documentation_files)
  foreach(entry IN LISTS documentation_entries)
    list(APPEND documentation_files ${stage}/${entry})
  endforeach()
  set(entries modelDescription.xml ${documentation_entries} ${linux32_entry} ${linux64_entry}
              ${win64_entry})
  # FMI 3.0 only: the 64-bit ARM library and the source code.
  set(arm_commands)
  set(arm_depends)
  if(version STREQUAL "3")
    fmu_library_path(aarch64_library ${CMAKE_BINARY_DIR}/platforms/aarch64 ${model} 3 .so)
    set(aarch64_entry binaries/aarch64-linux/${model}.so)
    list(APPEND entries ${aarch64_entry})
    set(arm_commands COMMAND ${CMAKE_COMMAND} -E copy ${aarch64_library} ${stage}/${aarch64_entry})
    set(arm_depends ${aarch64_library} slaves_aarch64 ${model}_fmi3_sources)
    add_fmu_sources(${model} ${stage} entries)
  endif()
  fmu_archive_name(archive_name ${model} ${version})
  set(archive ${CMAKE_BINARY_DIR}/${archive_name})
  add_custom_command(
    OUTPUT ${archive}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/binaries/${linux32_folder}
            ${stage}/binaries/${linux64_folder} ${stage}/binaries/${win64_folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${linux32_library} ${stage}/${linux32_entry}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${library}> ${stage}/${linux64_entry}
    COMMAND ${CMAKE_COMMAND} -E copy ${win64_library} ${stage}/${win64_entry}
    ${arm_commands}
    # Files only, named relative to the archive's root: no directory
    # entries, no "./" prefix, "/" as the separator.
    COMMAND fmupack ${archive} ${stage} ${entries}
    DEPENDS fmupack ${stage}/modelDescription.xml ${documentation_files} ${library}
            ${linux32_library} ${win64_library} slaves_linux32 slaves_win64 ${arm_depends}
    COMMENT "Packing ${archive_name}"
    VERBATIM)
  fmu_version_target(target ${model} ${version} fmu)
  add_custom_target(${target} ALL DEPENDS ${archive})
  # The description is written by its own target, never by this one too.
  fmu_version_target(description_target ${model} ${version} description)
  add_dependencies(${target} ${description_target})
endfunction()

function(add_fmu_archives)
  set(models ${ARGN})

  # CMake's own zip writer leaves the sizes out of the local headers, which
  # strict readers refuse; the archives are written with libzip instead.
  add_executable(fmupack ${PROJECT_SOURCE_DIR}/tools/fmupack/FmuPack.cpp)
  target_compile_options(fmupack PRIVATE ${SLAVE_WARNINGS})
  target_link_libraries(fmupack PRIVATE PkgConfig::LIBZIP)
  set_target_properties(fmupack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

  foreach(platform IN LISTS FMU_FOREIGN_PLATFORMS)
    set(byproducts)
    foreach(model IN LISTS models)
      fmu_packed_versions(versions ${model})
      foreach(version IN LISTS versions)
        fmu_library_path(library ${CMAKE_BINARY_DIR}/platforms/${platform} ${model} ${version}
                         ${FMU_SUFFIX_${platform}})
        list(APPEND byproducts ${library})
      endforeach()
    endforeach()
    ExternalProject_Add(slaves_${platform}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/platforms/${platform}
      PREFIX ${CMAKE_BINARY_DIR}/platforms/${platform}-steps
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${FMU_TOOLCHAINS_DIR}/${platform}.cmake
                 -DCMAKE_BUILD_TYPE=Release
                 -DSLAVE_BUILD_TESTS=OFF
                 -DSLAVE_PACKAGE_FMUS=OFF
      CMAKE_CACHE_ARGS -DSLAVE_MODELS:STRING=${models}
      BUILD_ALWAYS TRUE
      INSTALL_COMMAND ""
      BUILD_BYPRODUCTS ${byproducts})
  endforeach()

  foreach(model IN LISTS models)
    add_fmu_describer(${model})
    foreach(version 1 2 3)
      add_fmu_description(${model} ${version})
    endforeach()
    fmu_packed_versions(versions ${model})
    foreach(version IN LISTS versions)
      add_fmu_archive(${model} ${version})
    endforeach()
  endforeach()
endfunction()
