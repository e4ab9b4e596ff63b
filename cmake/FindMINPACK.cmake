# Finds MINPACK, the Fortran least-squares library (Debian minpack-dev: libminpack), whose lmder_
# the quadric fits call. Not cminpack, which defines the same symbol with another interface.
#   MINPACK_FOUND, MINPACK_LIBRARY and the imported target MINPACK::MINPACK
# Installed with the SeamWeld package, so a consumer's find_package(SeamWeld) finds it the same way;
# a library in an unusual place is given with -DMINPACK_LIBRARY=/path/libminpack.so.
find_library(MINPACK_LIBRARY NAMES minpack)
mark_as_advanced(MINPACK_LIBRARY)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(MINPACK REQUIRED_VARS MINPACK_LIBRARY)

if(MINPACK_FOUND AND NOT TARGET MINPACK::MINPACK)
  add_library(MINPACK::MINPACK UNKNOWN IMPORTED)
  set_target_properties(MINPACK::MINPACK PROPERTIES IMPORTED_LOCATION "${MINPACK_LIBRARY}")
endif()
