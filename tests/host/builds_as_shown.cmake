# Builds the minimal host with the compile line docs/host.md shows, placeholders filled in, and runs
# it with the plug-in's path and no LD_LIBRARY_PATH: the loader must find the stand-in host library
# through the run path the line sets. Fails when the line is missing, does not build, or the host
# does not heal.
# Inputs: DOC, SOURCE_DIR, BUILD_DIR, EXAMPLE (minimal_host.cpp), WORK_DIR, CXX_COMPILER, PLUGIN,
# EXTRA_FLAGS (the build's own instrumentation, which the stand-in library needs in whatever links it).
file(STRINGS ${DOC} lines REGEX "^g\\+\\+ ")
list(LENGTH lines count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "${DOC} shows ${count} compile lines starting with g++, not one")
endif()
set(line "${lines}")
string(REPLACE "<source root>" "${SOURCE_DIR}" line "${line}")
string(REPLACE "<build>" "${BUILD_DIR}" line "${line}")
string(REGEX REPLACE "^g\\+\\+ " "" line "${line}")
separate_arguments(args UNIX_COMMAND "${line}")
separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
file(MAKE_DIRECTORY ${WORK_DIR})
file(COPY ${EXAMPLE} DESTINATION ${WORK_DIR})
execute_process(COMMAND ${CXX_COMPILER} ${args} ${extra} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE built
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "the line of ${DOC} does not build the minimal host:\n${CXX_COMPILER} ${args} ${extra}\n${out}")
endif()
file(STRINGS ${DOC} runs REGEX "^\\./minimal_host ")
if(NOT runs)
  message(FATAL_ERROR "${DOC} does not show how to run ./minimal_host")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ./minimal_host ${PLUGIN}
                WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE ran OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT ran EQUAL 0 OR NOT out MATCHES "largest gap along the shared side after the heal")
  message(FATAL_ERROR "the minimal host built as ${DOC} shows does not heal (status ${ran}):\n${out}\n${err}")
endif()
