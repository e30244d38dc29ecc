# The committed icon files are the drawing's: the generator writes them anew into a
# folder of the test's own, and each must equal the committed file byte for byte
# (after a change of the drawing, `cmake --build build --target icons` rewrites them).
#   cmake -DGENERATOR=<make_icon> -DCOMMITTED=<packaging/icons> -DWORK=<dir> -P icon_files.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${GENERATOR}" "${WORK}" RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "${GENERATOR} failed: ${status}")
endif()
file(GLOB drawn RELATIVE "${WORK}" "${WORK}/*")
file(GLOB committed RELATIVE "${COMMITTED}" "${COMMITTED}/*")
if(NOT drawn STREQUAL committed)
  message(FATAL_ERROR "drawn: ${drawn}; committed: ${committed}")
endif()
foreach(name IN LISTS drawn)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/${name}" "${COMMITTED}/${name}"
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${COMMITTED}/${name} is not the drawing's; drawn file kept in ${WORK}")
  endif()
endforeach()
