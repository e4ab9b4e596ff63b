# One object library per kernel directory, named after the directory; every .cpp in it belongs to it.
function(seamweld_kernel_module dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  if(sources)
    add_library(${dir} OBJECT ${sources})
  endif()
endfunction()

# One test program per test source file, so that a suite can be built and run on its own.
function(seamweld_test_dir subsystem)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${subsystem}/*.cpp)
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    set(target test_${subsystem}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE seamweld_test_support seamweld_kernel GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${subsystem})
  endforeach()
endfunction()
