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

# tamborix_platform_plugin_backend(NAME PLUGIN) — like tamborix_platform_backend, for a backend the
# factory loads from the plugin PLUGIN when it is chosen: the factory compiles in the loading code
# under TAMBORIX_HAVE_<NAME> and links nothing of it.
function(tamborix_platform_plugin_backend name plugin)
  set_property(GLOBAL APPEND PROPERTY TAMBORIX_PLATFORM_PLUGIN_BACKENDS "${name}")
endfunction()

# Makes every static library of the project that `targets` link, directly or not, position
# independent, so that a plugin can hold a copy of it.
function(tamborix_position_independent)
  foreach(t ${ARGN})
    if(NOT TARGET ${t})
      continue()
    endif()
    get_target_property(imported ${t} IMPORTED)
    get_target_property(walked ${t} TAMBORIX_PIC_WALKED)
    if(imported OR walked)
      continue()
    endif()
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(deps ${t} INTERFACE_LINK_LIBRARIES)
    else()
      set_target_properties(${t} PROPERTIES POSITION_INDEPENDENT_CODE ON)
      get_target_property(deps ${t} LINK_LIBRARIES)
    endif()
    set_target_properties(${t} PROPERTIES TAMBORIX_PIC_WALKED ON)
    if(deps)
      tamborix_position_independent(${deps})
    endif()
  endforeach()
endfunction()

# tamborix_plugin(NAME SOURCES... [DEPS targets...] [FROM_PROGRAM]) — a shared object the helper
# loads only when it is chosen (platform/linux/support/plugin), written to the plugin folder of the
# build tree and installed to the package's. By default it holds its own copy of the static
# libraries it links (made position independent for it), resolves everything at link time and
# exports its entry point only. FROM_PROGRAM: it links no library of the project and takes that
# code from the program that loads it (which exports its symbols), for views of the program's own
# objects that no copy may stand in for.
function(tamborix_plugin name)
  cmake_parse_arguments(P "FROM_PROGRAM" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} MODULE ${P_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${TAMBORIX_PLUGIN_OUTPUT})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(${name} PRIVATE TAMBORIX_PLUGIN_BUILD="${TAMBORIX_PLUGIN_BUILD}")
  target_link_libraries(${name} PRIVATE ${P_DEPS})
  add_dependencies(${name} tamborix_layer_check)
  if(NOT P_FROM_PROGRAM)
    set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
    # Everything resolved at link time (a sanitizer's runtime may come from the program instead).
    if(NOT TAMBORIX_SANITIZE AND NOT TAMBORIX_FUZZ)
      target_link_options(${name} PRIVATE -Wl,-z,defs)
    endif()
    tamborix_position_independent(${P_DEPS})
  endif()
  set_property(GLOBAL APPEND PROPERTY TAMBORIX_PLUGINS ${name})
endfunction()
