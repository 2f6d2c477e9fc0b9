# Helpers shared by every layer's CMakeLists.

# tamborix_layer(NAME SOURCES... [DEPS targets...]) — a static library whose headers are found
# from src/ (so code includes "protocol/wire.h", "core/helper_core.h", ...).
function(tamborix_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_DEPS})
  add_dependencies(${name} tamborix_layer_check)
endfunction()

# tamborix_test(NAME [THREADS] SOURCES... DEPS targets...) — one GoogleTest executable registered
# with CTest. THREADS: the code it tests starts threads, so the ThreadSanitizer run includes it.
function(tamborix_test name)
  cmake_parse_arguments(T "THREADS" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(T_THREADS)
    tamborix_thread_test(${name})
  endif()
endfunction()

# Counts the test program `name` (a target and a test of that name, made in the calling folder)
# among those that start threads: `thread_tests` builds them, `ctest -L threads` runs them.
function(tamborix_thread_test name)
  set_tests_properties(${name} PROPERTIES LABELS threads)
  if(NOT TARGET thread_tests)
    add_custom_target(thread_tests)
  endif()
  add_dependencies(thread_tests ${name})
endfunction()

# tamborix_bench(NAME SOURCES... DEPS targets...) — one Google Benchmark program.
function(tamborix_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_DEPS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/bench)
endfunction()

# tamborix_fuzz(NAME SOURCES... DEPS targets...) — one libFuzzer target (clang only).
function(tamborix_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${F_DEPS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/fuzz)
endfunction()

# tamborix_platform_backend(TARGET NAME) — offers a backend or service library to the factory,
# which links it and compiles in the code that uses it under TAMBORIX_HAVE_<NAME>.
function(tamborix_platform_backend target name)
  set_property(GLOBAL APPEND PROPERTY TAMBORIX_PLATFORM_BACKENDS "${target}=${name}")
endfunction()
