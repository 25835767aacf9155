# libFuzzer targets of fmirun's readers of a user's files: the input CSV, the
# model description and the .fmu archive. Our sources get the fuzzer's
# coverage and AddressSanitizer and UndefinedBehaviorSanitizer; Debian's
# pugixml and libzip are linked as they are.
find_package(pugixml REQUIRED)
find_package(fmt REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)

set(fmirun_dir ${PROJECT_SOURCE_DIR}/tools/fmirun)
add_library(fmirun_parsers STATIC ${fmirun_dir}/Archive.cpp ${fmirun_dir}/Csv.cpp
            ${fmirun_dir}/Inputs.cpp ${fmirun_dir}/ModelDescription.cpp ${fmirun_dir}/Numbers.cpp)
target_include_directories(fmirun_parsers PUBLIC ${fmirun_dir} ${PROJECT_SOURCE_DIR}/runtime/core
                           ${PROJECT_SOURCE_DIR}/runtime/fmi1 ${PROJECT_SOURCE_DIR}/runtime/fmi2
                           ${PROJECT_SOURCE_DIR}/runtime/fmi3)
target_compile_options(fmirun_parsers PRIVATE ${SLAVE_WARNINGS} -fsanitize=fuzzer-no-link
                                              ${fuzz_sanitizers} -fno-omit-frame-pointer -g)
target_link_libraries(fmirun_parsers PUBLIC pugixml::pugixml fmt::fmt PkgConfig::LIBZIP)

foreach(parser IN ITEMS inputs sweep description archive)
  add_executable(fuzz_fmirun_${parser} ${CMAKE_CURRENT_SOURCE_DIR}/FuzzFmirun.cpp)
  string(TOUPPER ${parser} upper)
  target_compile_definitions(fuzz_fmirun_${parser} PRIVATE FUZZ_FMIRUN_${upper})
  target_compile_options(fuzz_fmirun_${parser} PRIVATE ${SLAVE_WARNINGS} -fsanitize=fuzzer
                                                       ${fuzz_sanitizers} -fno-omit-frame-pointer -g)
  target_link_options(fuzz_fmirun_${parser} PRIVATE -fsanitize=fuzzer ${fuzz_sanitizers})
  target_link_libraries(fuzz_fmirun_${parser} PRIVATE fmirun_parsers)
endforeach()
