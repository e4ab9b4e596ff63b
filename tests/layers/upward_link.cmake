# The floor link checks of cmake/SeamWeldLayers.cmake on a two-floor project: a call from the
# lower floor to the upper one fails the build with the callee undefined, and the same call made
# downward builds. Run with cmake -P, given SOURCE_DIR (the kernel's tree), WORK_DIR, GENERATOR
# and CXX_COMPILER.
foreach(var SOURCE_DIR WORK_DIR GENERATOR CXX_COMPILER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

# build_floors(<name> <source of low.cpp> <source of high.cpp> <result var> <output var>)
function(build_floors name low high result_var output_var)
  set(dir ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${dir})
  file(WRITE ${dir}/src/layers.txt "low   # the bottom floor\nhigh  # above low\n")
  file(WRITE ${dir}/src/low.cpp "${low}\n")
  file(WRITE ${dir}/src/high.cpp "${high}\n")
  file(WRITE ${dir}/src/CMakeLists.txt "
cmake_minimum_required(VERSION 3.20)
project(floors LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(${SOURCE_DIR}/cmake/SeamWeldLayers.cmake)
seamweld_read_layers(\${CMAKE_SOURCE_DIR}/layers.txt floors)
foreach(floor \${floors})
  add_library(\${floor} OBJECT \${floor}.cpp)
endforeach()
seamweld_floor_link_checks(FLOORS \${floors} LIBS m)
")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${dir}/src -B ${dir}/build -G ${GENERATOR}
                          -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
                  RESULT_VARIABLE configured OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "configuring ${name} failed:\n${out}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir}/build
                  RESULT_VARIABLE built OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${result_var} ${built} PARENT_SCOPE)
  set(${output_var} "${out}" PARENT_SCOPE)
endfunction()

build_floors(upward "int High();\nint Low() { return High() + 1; }" "int High() { return 2; }"
             result output)
if(result EQUAL 0)
  message(FATAL_ERROR "a call from the low floor to the high one linked:\n${output}")
endif()
if(NOT output MATCHES "undefined reference to [`']High\\(\\)")
  message(FATAL_ERROR "the upward build failed, but not for the upward call:\n${output}")
endif()

build_floors(downward "int Low() { return 1; }" "int Low();\nint High() { return Low() + 1; }"
             result output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "a call from the high floor to the low one failed to link:\n${output}")
endif()
