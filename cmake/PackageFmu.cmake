# add_fmu_archives(<model identifier>...)
#
# Makes <identifier>.fmu in the build directory for each model: an FMI 1.0
# co-simulation archive with the model description at its root, a page
# documenting the variables, and the model's library for linux32, linux64 and
# win64. The linux64 library is this build's own; the other two come from
# builds of the same sources with the linux32 and win64 toolchains, nested in
# this build directory (platforms/<platform>) and run by every build, so that
# one build of this directory makes complete archives.
include(ExternalProject)

set(FMU_TOOLCHAINS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(FMU_DESCRIBE_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../tools/describe/Describe.cpp)

# The platforms other than this build's, with their toolchain files and
# library suffixes.
set(FMU_FOREIGN_PLATFORMS linux32 win64)
set(FMU_SUFFIX_linux32 .so)
set(FMU_SUFFIX_win64 .dll)

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)

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
      list(APPEND byproducts
           ${CMAKE_BINARY_DIR}/platforms/${platform}/${model}${FMU_SUFFIX_${platform}})
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
    # The description comes from the model's own sources: the generator is
    # compiled with them and the runtime's version-independent core.
    set(sources)
    foreach(source IN LISTS SLAVE_MODEL_SOURCES_${model})
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
      list(APPEND sources ${source})
    endforeach()
    add_executable(describe_${model} ${FMU_DESCRIBE_SOURCE} ${sources})
    target_include_directories(describe_${model} PRIVATE ${SLAVE_RUNTIME_DIR}/core)
    target_compile_definitions(describe_${model} PRIVATE MODEL_IDENTIFIER=${model})
    target_compile_options(describe_${model} PRIVATE ${SLAVE_WARNINGS})
    set_target_properties(describe_${model} PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

    set(stage ${CMAKE_BINARY_DIR}/fmu/${model})
    set(description ${stage}/modelDescription.xml)
    set(documentation ${stage}/documentation/_main.html)
    add_custom_command(
      OUTPUT ${description} ${documentation}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/documentation
      COMMAND describe_${model} --xml ${description} --html ${documentation}
      DEPENDS describe_${model}
      COMMENT "Describing ${model}"
      VERBATIM)

    set(entries modelDescription.xml documentation/_main.html
        binaries/linux32/${model}.so binaries/linux64/${model}.so binaries/win64/${model}.dll)
    set(archive ${CMAKE_BINARY_DIR}/${model}.fmu)
    add_custom_command(
      OUTPUT ${archive}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/binaries/linux32
              ${stage}/binaries/linux64 ${stage}/binaries/win64
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/platforms/linux32/${model}.so
              ${stage}/binaries/linux32/${model}.so
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${model}> ${stage}/binaries/linux64/${model}.so
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/platforms/win64/${model}.dll
              ${stage}/binaries/win64/${model}.dll
      # Files only, named relative to the archive's root: no directory
      # entries, no "./" prefix, "/" as the separator.
      COMMAND fmupack ${archive} ${stage} ${entries}
      DEPENDS fmupack ${description} ${documentation} ${model}
              ${CMAKE_BINARY_DIR}/platforms/linux32/${model}.so
              ${CMAKE_BINARY_DIR}/platforms/win64/${model}.dll
              slaves_linux32 slaves_win64
      COMMENT "Packing ${model}.fmu"
      VERBATIM)
    add_custom_target(${model}_fmu ALL DEPENDS ${archive})
  endforeach()
endfunction()
