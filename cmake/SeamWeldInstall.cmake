# `cmake --install` layout: the kernel archive, the stand-in host library it links to and the
# plug-in in lib/, the public headers under include/seamweld/<directory>/ (so that a consumer
# writes `#include "bspline/smake.h"` as the kernel does), and an exported, versioned package
# that finds its MINPACK dependency itself:
#   find_package(SeamWeld 0.1)  ->  SeamWeld::kernel, SeamWeld::platform, SeamWeld::plugin
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SEAMWELD_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/seamweld)
set(SEAMWELD_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/SeamWeld)

# In the build tree every target sees the source root through include_directories(); an installed
# target carries its include directory itself.
target_include_directories(seamweld_kernel INTERFACE $<INSTALL_INTERFACE:${SEAMWELD_INSTALL_INCLUDEDIR}>)
target_include_directories(platform INTERFACE $<INSTALL_INTERFACE:${SEAMWELD_INSTALL_INCLUDEDIR}>)
if(SEAMWELD_SANITIZE)
  # A sanitized archive needs the sanitizer runtimes in whatever links it.
  target_link_options(seamweld_kernel INTERFACE $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
  target_link_options(platform INTERFACE $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
endif()
# "platform" is a fine name inside this tree but not in a shared lib/ directory.
set_target_properties(platform PROPERTIES OUTPUT_NAME seamweld_platform)
set_target_properties(seamweld_kernel PROPERTIES EXPORT_NAME kernel)

set(seamweld_installed_targets seamweld_kernel platform)
if(TARGET seamweld5)
  # The installed plug-in finds the stand-in host library beside it.
  set_target_properties(seamweld5 PROPERTIES EXPORT_NAME plugin INSTALL_RPATH "$ORIGIN")
  list(APPEND seamweld_installed_targets seamweld5)
endif()
install(TARGETS ${seamweld_installed_targets} EXPORT SeamWeldTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A header whose opening comment says "Internal to <directory>/" serves only the sources of its
# own directory (and the tests) and is not installed. The comment is read as one text, so the
# marker may be wrapped across its lines.
foreach(dir platform ${SEAMWELD_KERNEL_DIRS})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.h)
  set(public_headers "")
  foreach(h ${headers})
    file(STRINGS ${h} opening LIMIT_COUNT 12)
    list(JOIN opening " " opening)
    string(REPLACE "//" " " opening "${opening}")
    string(REGEX REPLACE "[ \t]+" " " opening "${opening}")
    if(NOT opening MATCHES "Internal to ${dir}/")
      list(APPEND public_headers ${h})
    endif()
  endforeach()
  if(public_headers)
    install(FILES ${public_headers} DESTINATION ${SEAMWELD_INSTALL_INCLUDEDIR}/${dir})
  endif()
endforeach()

# The plug-in's own header: its entry points, the dialog's item numbers, the continuity values and
# the instance record a host writer works with (docs/host.md).
if(TARGET seamweld5)
  install(FILES ${CMAKE_SOURCE_DIR}/healing/plugin/seamweld5.h DESTINATION ${SEAMWELD_INSTALL_INCLUDEDIR}/healing/plugin)
endif()

install(EXPORT SeamWeldTargets NAMESPACE SeamWeld:: DESTINATION ${SEAMWELD_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/SeamWeldConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/SeamWeldConfig.cmake
                              INSTALL_DESTINATION ${SEAMWELD_INSTALL_CMAKEDIR})
# 0.x: a minor version may change the interface, so only the same 0.minor satisfies a request.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/SeamWeldConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/SeamWeldConfig.cmake ${CMAKE_BINARY_DIR}/SeamWeldConfigVersion.cmake
              ${CMAKE_SOURCE_DIR}/cmake/FindMINPACK.cmake
        DESTINATION ${SEAMWELD_INSTALL_CMAKEDIR})
