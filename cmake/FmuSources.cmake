# The source code of a model's FMI 3.0 library as its archive carries it in
# sources/: the runtime's core and 3.0 sources, the model's own and every
# header they include, at their paths under the project's root, and
# sources/buildDescription.xml saying how they are compiled. One plain
# command builds them, in sources/ (the same on the archive's page and in
# the README):
#
#   c++ -std=c++17 -O2 -shared -fPIC <SLAVE_SOURCE_OPTIONS> -DMODEL_IDENTIFIER=<id>
#       -Iruntime/core -Iruntime/fmi3 runtime/core/*.cpp runtime/fmi3/*.cpp
#       models/*/*.cpp -o <id>.so

# What a compiler needs beyond the language to give our bits and nothing of
# the C++ runtime: no contracted multiply-adds, no exceptions, RTTI or
# guarded statics, and only the FMI functions exported.
set(SLAVE_SOURCE_OPTIONS -ffp-contract=off -fno-exceptions -fno-rtti -fno-threadsafe-statics
                         -fvisibility=hidden)
set(SLAVE_SOURCE_INCLUDE_DIRECTORIES runtime/core runtime/fmi3)

# The files of a model's 3.0 library, relative to the project's root and
# sorted: its sources and, followed through every quoted #include, the
# headers they need, searched as the compiler does (the including file's
# folder, then the include directories).
function(fmu_source_files out model)
  set(pending ${SLAVE_CORE_SOURCES} ${SLAVE_FMI3_SOURCES})
  foreach(source IN LISTS SLAVE_MODEL_SOURCES_${model})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
    list(APPEND pending ${source})
  endforeach()
  set(found)
  while(pending)
    list(POP_FRONT pending file)
    cmake_path(NORMAL_PATH file)
    if(file IN_LIST found)
      continue()
    endif()
    list(APPEND found ${file})
    cmake_path(GET file PARENT_PATH folder)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" name "${line}")
      set(resolved)
      foreach(directory ${folder} ${SLAVE_RUNTIME_DIR}/core ${SLAVE_RUNTIME_DIR}/fmi3)
        if(NOT resolved AND EXISTS ${directory}/${name})
          set(resolved ${directory}/${name})
        endif()
      endforeach()
      if(NOT resolved)
        message(FATAL_ERROR "${file} includes ${name}, which is not among the sources")
      endif()
      list(APPEND pending ${resolved})
    endforeach()
  endwhile()
  set(relative)
  foreach(file IN LISTS found)
    cmake_path(RELATIVE_PATH file BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
    list(APPEND relative ${file})
  endforeach()
  list(SORT relative)
  set(${out} ${relative} PARENT_SCOPE)
endfunction()

# Writes <folder>/buildDescription.xml for a model's sources.
function(write_build_description folder model files)
  string(REPLACE ";" " " options "${SLAVE_SOURCE_OPTIONS}")
  set(xml "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<fmiBuildDescription fmiVersion=\"3.0\">\n")
  string(APPEND xml "  <BuildConfiguration modelIdentifier=\"${model}\">\n"
                    "    <SourceFileSet language=\"C++17\" compilerOptions=\"${options}\">\n")
  foreach(file IN LISTS files)
    if(file MATCHES "\\.cpp$")
      string(APPEND xml "      <SourceFile name=\"${file}\"/>\n")
    endif()
  endforeach()
  string(APPEND xml "      <PreprocessorDefinition name=\"MODEL_IDENTIFIER\" value=\"${model}\"/>\n")
  foreach(directory IN LISTS SLAVE_SOURCE_INCLUDE_DIRECTORIES)
    string(APPEND xml "      <IncludeDirectory name=\"${directory}\"/>\n")
  endforeach()
  string(APPEND xml "    </SourceFileSet>\n  </BuildConfiguration>\n</fmiBuildDescription>\n")
  file(CONFIGURE OUTPUT ${folder}/buildDescription.xml CONTENT "${xml}")
endfunction()

# add_fmu_sources(<model> <stage folder> <entries variable>)
#
# The target <model>_fmi3_sources, which copies the model's 3.0 sources into
# <stage folder>/sources/ with their build description; the entries, named
# relative to the stage folder, are appended to <entries variable>.
function(add_fmu_sources model stage entries_var)
  fmu_source_files(files ${model})
  set(described ${CMAKE_BINARY_DIR}/fmu-sources/${model})
  write_build_description(${described} ${model} "${files}")
  set(source_entries sources/buildDescription.xml)
  set(outputs ${stage}/sources/buildDescription.xml)
  set(commands COMMAND ${CMAKE_COMMAND} -E copy ${described}/buildDescription.xml
                       ${stage}/sources/buildDescription.xml)
  set(inputs ${described}/buildDescription.xml)
  foreach(file IN LISTS files)
    list(APPEND source_entries sources/${file})
    list(APPEND outputs ${stage}/sources/${file})
    list(APPEND inputs ${PROJECT_SOURCE_DIR}/${file})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${file}
                                 ${stage}/sources/${file})
  endforeach()
  add_custom_command(OUTPUT ${outputs} ${commands} DEPENDS ${inputs}
                     COMMENT "Staging the FMI 3.0 sources of ${model}" VERBATIM)
  add_custom_target(${model}_fmi3_sources ALL DEPENDS ${outputs})
  set(${entries_var} ${${entries_var}} ${source_entries} PARENT_SCOPE)
endfunction()
