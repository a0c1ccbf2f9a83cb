# Helpers that keep the per-layer CMakeLists.txt files to a few lines each.

set(VX_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)

function(vx_apply_options target)
  target_compile_options(${target} PRIVATE ${VX_WARNINGS})
  if(VX_SANITIZE)
    target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
                                            -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
  if(VX_FUZZ)
    # Coverage feedback from inside every library, not only from the fuzz entry points.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# vx_library(<name> SOURCES ... [DEPS ...])
# One static library per layer; headers are included as "layer/file.h" from src/.
function(vx_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  vx_apply_options(${name})
endfunction()

# vx_executable(<name> SOURCES ... [DEPS ...]) -> build/bin/<name>
function(vx_executable name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  vx_apply_options(${name})
endfunction()

# vx_test(<name> SOURCES ... [DEPS ...] [TIMEOUT seconds])
# A GoogleTest binary whose cases CTest runs one by one.
function(vx_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} vx_testsupport GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE VX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             VX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  vx_apply_options(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${A_TIMEOUT}
                       WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
endfunction()

# vx_benchmark(<name> SOURCES ... [DEPS ...]) -> build/bin/<name>
function(vx_benchmark name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark)
  vx_apply_options(${name})
endfunction()

# vx_fuzzer(<name> SOURCE file [DEPS ...] [CORPUS dir])
# With VX_FUZZ (clang) this is a libFuzzer binary build/bin/fuzz_<name>. Otherwise the same
# entry point is linked with a replay main and every file of the corpus runs as a test, so
# saved inputs that once crashed keep being checked by the ordinary suite.
function(vx_fuzzer name)
  cmake_parse_arguments(A "" "SOURCE;CORPUS" "DEPS" ${ARGN})
  if(VX_FUZZ)
    add_executable(fuzz_${name} ${A_SOURCE})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(fuzz_${name} ${A_SOURCE} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cc)
  endif()
  target_link_libraries(fuzz_${name} PRIVATE ${A_DEPS})
  vx_apply_options(fuzz_${name})
  if(VX_TESTS AND A_CORPUS AND NOT VX_FUZZ)
    add_test(NAME fuzz_replay.${name} COMMAND fuzz_${name} ${A_CORPUS})
    set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT 120)
  endif()
endfunction()
