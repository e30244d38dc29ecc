# A cross build for Windows runs its programs under Wine: a launcher script in the
# build folder, bound to a Wine prefix of the build's own, is the emulator through
# which ctest starts them.
set(ZV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the Windows build's tests")
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZV_WINE wine)
  if(ZV_WINE)
    configure_file(${CMAKE_SOURCE_DIR}/tools/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  endif()
endif()

# The programs' resource script (their icon) is compiled by windres.
enable_language(RC)
