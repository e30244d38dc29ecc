# The install tree: `cmake --install` of the build with the default prefix into a
# staging root of the test's own (DESTDIR), where every file must lie under the
# prefix and the files must be those of TABLE, no more and no fewer.
#   cmake -DBUILD=<build folder> -DROOT=<staging root> -DTABLE=<file> -P install_tree.cmake
set(prefix usr/local)
file(REMOVE_RECURSE "${ROOT}")
set(ENV{DESTDIR} "${ROOT}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix /${prefix}
                OUTPUT_QUIET ERROR_VARIABLE errors RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${errors}")
endif()
file(GLOB_RECURSE installed RELATIVE "${ROOT}" LIST_DIRECTORIES false "${ROOT}/*")
list(SORT installed)
file(STRINGS "${TABLE}" expected)
list(TRANSFORM expected PREPEND "${prefix}/")
list(SORT expected)
if(NOT installed STREQUAL expected)
  list(JOIN installed "\n  " installed)
  list(JOIN expected "\n  " expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected (${TABLE}):\n  ${expected}")
endif()
