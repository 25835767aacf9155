# add_fmi_slave(<model identifier> SOURCES <model sources>...)
#
# Makes one deliverable: the slave runtime, compiled with the model identifier
# that prefixes every export, linked with one model. The runtime's sources are
# the same for every model.
set(SLAVE_RUNTIME_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../runtime/SlaveInstance.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../runtime/Lifecycle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../runtime/VariableAccess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../runtime/Stepping.cpp)
set(SLAVE_RUNTIME_DIR ${CMAKE_CURRENT_LIST_DIR}/../runtime)

function(add_fmi_slave identifier)
  cmake_parse_arguments(PARSE_ARGV 1 SLAVE "" "" "SOURCES")
  add_library(${identifier} SHARED ${SLAVE_RUNTIME_SOURCES} ${SLAVE_SOURCES})
  target_include_directories(${identifier} PRIVATE ${SLAVE_RUNTIME_DIR})
  target_compile_definitions(${identifier} PRIVATE MODEL_IDENTIFIER=${identifier})
  target_compile_options(${identifier} PRIVATE ${SLAVE_WARNINGS}
    -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fvisibility=hidden -fvisibility-inlines-hidden)
  # Named as FMI tools expect: <modelIdentifier>.so / <modelIdentifier>.dll.
  set_target_properties(${identifier} PROPERTIES PREFIX "")
  if(WIN32)
    # Only the Universal CRT: no msvcrt start files, no libgcc or libstdc++ DLLs.
    target_sources(${identifier} PRIVATE ${SLAVE_RUNTIME_DIR}/WindowsEntry.cpp)
    target_link_options(${identifier} PRIVATE
      -nostdlib -Wl,--entry=DllMainCRTStartup -Wl,--no-undefined)
    target_link_libraries(${identifier} PRIVATE ucrt gcc)
  else()
    # Linked by the C driver: nothing of the C++ runtime may be needed.
    set_target_properties(${identifier} PROPERTIES LINKER_LANGUAGE C)
    target_link_options(${identifier} PRIVATE
      -static-libgcc -Wl,--no-undefined -Wl,--as-needed -Wl,-z,noexecstack)
  endif()
endfunction()
