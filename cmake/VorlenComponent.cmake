# Shared build settings and the helpers that keep every folder's CMakeLists short.

add_library(vorlen_warnings INTERFACE)
target_compile_options(vorlen_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wno-unused-parameter
  $<$<BOOL:${VORLEN_WERROR}>:-Werror>)

# VORLEN_SANITIZE: ON or address gives AddressSanitizer with UndefinedBehaviorSanitizer; thread gives
# ThreadSanitizer (the two cannot share a build). The thread build runs the tests labelled
# `concurrency`; scripts/tsan.supp names the reports inside system libraries that are known benign.
string(TOLOWER "${VORLEN_SANITIZE}" vorlen_sanitize_kind)
if(vorlen_sanitize_kind STREQUAL "thread")
  set(VORLEN_TSAN ON)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(vorlen_sanitize_kind STREQUAL "address" OR VORLEN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments every library for coverage; only the fuzz targets link libFuzzer's
# main (vorlen_add_fuzzer). Configure it with CC=clang CXX=clang++.
if(VORLEN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VORLEN_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Every test executable labelled `concurrency`: what the ThreadSanitizer build of scripts/test.sh builds.
add_custom_target(vorlen_concurrency_tests)

# vorlen_add_tests(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
# A GoogleTest executable whose cases ctest lists one by one (discovered when ctest runs,
# so a sanitizer build never runs test code at build time).
function(vorlen_add_tests name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vorlen_warnings GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  # A list does not survive discovery's property arguments: the first label goes there, and
  # a file that ctest reads after the discovered cases gives each case the whole list.
  list(GET T_LABELS 0 first_label)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${first_label}
               SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
  if("concurrency" IN_LIST T_LABELS)
    add_dependencies(vorlen_concurrency_tests ${name})
  endif()
  list(LENGTH T_LABELS label_count)
  if(label_count GREATER 1)
    set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${labels_file}
      "foreach(t IN LISTS ${name}_TESTS)\n  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${T_LABELS}\")\nendforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
  endif()
endfunction()

# vorlen_add_benchmark(<name> SOURCES <files...> LIBS <targets...>)
# A Google Benchmark executable; built, never run by ctest (speed is measured, not asserted).
function(vorlen_add_benchmark name)
  if(NOT VORLEN_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} vorlen_warnings benchmark::benchmark benchmark::benchmark_main Threads::Threads)
endfunction()

# vorlen_add_fuzzer(<name> SOURCES <files...> LIBS <targets...> CORPUS <dir>)
# A fuzz target: a file defining LLVMFuzzerTestOneInput (and, if it needs one,
# LLVMFuzzerInitialize). With -DVORLEN_FUZZ=ON under clang it is a libFuzzer binary; in every
# other build it links a small replay main and ctest runs it over its committed corpus, so the
# normal and sanitizer builds replay every corpus with gcc.
# Every target and its corpus are listed in <build>/fuzz_targets.txt for scripts/fuzz.sh, written
# once when the whole tree has been read.
function(vorlen_write_fuzz_list)
  get_property(rows GLOBAL PROPERTY VORLEN_FUZZ_TARGETS)
  list(JOIN rows "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${text}\n")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vorlen_write_fuzz_list)
add_library(vorlen_fuzz_replay STATIC ${CMAKE_CURRENT_LIST_DIR}/fuzz_replay_main.cpp)
target_link_libraries(vorlen_fuzz_replay PRIVATE vorlen_warnings)
# The seed writers' shared header (fuzz_seeds.h).
add_library(vorlen_fuzz_seeds INTERFACE)
target_include_directories(vorlen_fuzz_seeds INTERFACE ${CMAKE_CURRENT_LIST_DIR})

function(vorlen_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS} vorlen_warnings Threads::Threads)
  set_property(GLOBAL APPEND PROPERTY VORLEN_FUZZ_TARGETS "${name} ${F_CORPUS}")
  if(VORLEN_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_link_libraries(${name} PRIVATE vorlen_fuzz_replay)
    add_test(NAME ${name}.replay COMMAND ${name} ${F_CORPUS})
    set_tests_properties(${name}.replay PROPERTIES LABELS "unit;fuzz" TIMEOUT 300)
  endif()
endfunction()

# vorlen_add_tool(<library> SOURCES <files...> LIBS <targets...> PROGRAM <target> <file name> <main source>)
# A tool's code as a static library with its headers in the folder's include/, and the program
# <file name> made of <main source> over it.
function(vorlen_add_tool library)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROGRAM" ${ARGN})
  add_library(${library} STATIC ${T_SOURCES})
  target_include_directories(${library} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${library} PUBLIC ${T_LIBS} PRIVATE vorlen_warnings)
  list(GET T_PROGRAM 0 program)
  list(GET T_PROGRAM 1 file_name)
  list(GET T_PROGRAM 2 main_source)
  add_executable(${program} ${main_source})
  set_target_properties(${program} PROPERTIES OUTPUT_NAME ${file_name})
  target_link_libraries(${program} PRIVATE ${library} vorlen_warnings)
endfunction()
