# One object library per kernel directory, named after the directory; every .cpp in it belongs to it.
# The kernel is linked statically into programs and embedded in the plug-in, never exported from a
# shared library: its symbols are hidden, so the plug-in shows the host nothing but its entry points.
function(seamweld_kernel_module dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  if(sources)
    add_library(${dir} OBJECT ${sources})
    seamweld_hidden_symbols(${dir})
  endif()
endfunction()

# Symbols of the target are hidden unless marked visibility("default"), inline functions and
# template instances included.
function(seamweld_hidden_symbols target)
  set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# One test program per test directory: linking the whole kernel once per directory rather than once
# per source file keeps the sanitizer build small and quick. A suite still runs on its own through
# ctest's labels (-L <subsystem>) or gtest's filter.
function(seamweld_test_dir subsystem)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${subsystem}/*.cpp)
  if(sources)
    set(target test_${subsystem})
    add_executable(${target} ${sources})
    target_link_libraries(${target} PRIVATE seamweld_test_support seamweld_kernel GTest::gtest GTest::gtest_main)
    seamweld_test_options(${target})
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 PROPERTIES LABELS ${subsystem})
  endif()
endfunction()

# Test code itself is compiled without optimisation in the sanitizer build: the tests spend their
# time in the kernel (built as asked), and their own sources compile much faster so. The headers
# nearly every test reads are precompiled once, by the test support library, for every test
# program; sharing it needs the same code model everywhere, so test code is built as the
# compiler's default (not as code for a shared library).
function(seamweld_test_options target)
  if(SEAMWELD_SANITIZE)
    target_compile_options(${target} PRIVATE -O0)
  endif()
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  if(target STREQUAL "seamweld_test_support")
    target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <algorithm> <cmath> <random> <vector>)
  else()
    target_precompile_headers(${target} REUSE_FROM seamweld_test_support)
  endif()
endfunction()
