# Decides how this machine runs the 32-bit x86 test programs of a linux32
# build: natively where the kernel executes 32-bit programs, otherwise under
# QEMU's user-mode emulator. SLAVE_EMULATE_32BIT=1 in the environment takes
# the emulator route even where native execution works, so both routes can be
# tried on any machine. The decision is made afresh at every configure and
# left in ${CMAKE_BINARY_DIR}/linux32-route.txt for the test command to show.
#
# Sets SLAVE_32BIT_EMULATOR: empty for native runs, or the emulator command
# line (a list) that CTest puts in front of every 32-bit test program.
function(decide_linux32_runner)
  set(probe_dir ${CMAKE_BINARY_DIR}/linux32-probe)
  try_compile(probe_built ${probe_dir}
              SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/probe/Runs.c
              COPY_FILE ${probe_dir}/runs
              OUTPUT_VARIABLE probe_output)
  if(NOT probe_built)
    message(FATAL_ERROR "Cannot link a 32-bit x86 program:\n${probe_output}")
  endif()

  set(native_runs FALSE)
  execute_process(COMMAND ${probe_dir}/runs RESULT_VARIABLE native_status
                  OUTPUT_QUIET ERROR_QUIET)
  if(native_status STREQUAL "0")
    set(native_runs TRUE)
  endif()

  if(native_runs AND NOT "$ENV{SLAVE_EMULATE_32BIT}" STREQUAL "1")
    set(route "natively")
    set(emulator "")
  else()
    find_program(QEMU_I386 qemu-i386 NO_CACHE)
    if(NOT QEMU_I386)
      message(FATAL_ERROR "32-bit x86 programs do not run natively here (or SLAVE_EMULATE_32BIT=1) "
                          "and qemu-i386 is missing: install Debian's qemu-user "
                          "(scripts/install-deps.sh does)")
    endif()
    # -L / : the 32-bit C library and loader come from this machine's
    # multilib packages.
    set(emulator ${QEMU_I386} -L /)
    execute_process(COMMAND ${emulator} ${probe_dir}/runs RESULT_VARIABLE emulated_status
                    OUTPUT_QUIET ERROR_QUIET)
    if(NOT emulated_status STREQUAL "0")
      message(FATAL_ERROR "qemu-i386 cannot run a 32-bit x86 program here (${emulated_status})")
    endif()
    if(native_runs)
      set(route "under user-mode emulation (qemu-i386, forced by SLAVE_EMULATE_32BIT=1)")
    else()
      set(route "under user-mode emulation (qemu-i386; this kernel runs no 32-bit program)")
    endif()
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/linux32-route.txt "32-bit x86 test programs run ${route}\n")
  message(STATUS "32-bit x86 test programs run ${route}")
  set(SLAVE_32BIT_EMULATOR "${emulator}" PARENT_SCOPE)
endfunction()
