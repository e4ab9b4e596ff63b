# Installs the current build tree into a fresh prefix, then configures, builds and runs the consumer
# project against it. Reusing the build tree's install step keeps this from rebuilding the kernel.
# Inputs: BUILD_DIR, CONSUMER_DIR, WORK_DIR, GENERATOR, CXX_COMPILER, BUILD_TYPE, EXE_LINKER_FLAGS.
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f lib/libseamweld_kernel.a lib/libseamweld_platform.so lib/libseamweld5.so
          include/seamweld/bspline/smake.h include/seamweld/platform/saa.h
          lib/cmake/SeamWeld/SeamWeldConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()
run("consumer configure" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}")
run("consumer build" ${CMAKE_COMMAND} --build ${consumer_build})
run("consumer run" ${consumer_build}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})
