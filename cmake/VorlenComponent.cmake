# Shared build settings and the helpers that keep every folder's CMakeLists short.

add_library(vorlen_warnings INTERFACE)
target_compile_options(vorlen_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wno-unused-parameter
  $<$<BOOL:${VORLEN_WERROR}>:-Werror>)

if(VORLEN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

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
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
               SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
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
