# The floors of cmake/layers.txt in the build. Each floor's objects are linked, together with the
# objects of every floor below it and nothing above, into a shared library with --no-undefined:
# a call from a floor to one above it leaves a symbol undefined and fails `cmake --build`, not
# only an include check. The libraries are checks, built with the rest; nothing links to them.

# The directories of the table, lowest first, into out_var.
function(seamweld_read_layers table out_var)
  file(STRINGS ${table} lines)
  set(dirs)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line)
      string(REGEX REPLACE "[ \t].*" "" dir "${line}")
      list(APPEND dirs ${dir})
    endif()
  endforeach()
  set(${out_var} ${dirs} PARENT_SCOPE)
endfunction()

# For every floor of `floors` (lowest first) that has an object library of its name, the check
# library seamweld_floor_<floor> of that floor's objects and those of the floors before it, linked
# against `libs` (what the whole stack may use from outside: the host stand-ins, MINPACK, libm).
function(seamweld_floor_link_checks)
  cmake_parse_arguments(ARG "" "" "FLOORS;LIBS" ${ARGN})
  set(objects)
  foreach(floor IN LISTS ARG_FLOORS)
    if(NOT TARGET ${floor})
      continue()
    endif()
    list(APPEND objects $<TARGET_OBJECTS:${floor}>)
    string(REPLACE "/" "_" name "${floor}")
    add_library(seamweld_floor_${name} SHARED ${objects})
    target_link_libraries(seamweld_floor_${name} PRIVATE ${ARG_LIBS})
    # Only the link matters: no debug sections are written.
    target_link_options(seamweld_floor_${name} PRIVATE -Wl,--no-undefined -Wl,--strip-debug)
    set_target_properties(seamweld_floor_${name} PROPERTIES LINKER_LANGUAGE CXX
                          LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/floors)
  endforeach()
endfunction()
