# Installation and packages. On Linux `cmake --install` puts the programs, their
# manual pages, the desktop entry, the icon in each drawn size and the package's
# documentation under the prefix (tests/install/installed_files.txt lists them), and CPack
# makes the Debian package invar_<version>_amd64.deb of the same tree under /usr. The
# Windows build installs the two programs and a README into one folder, which CPack
# makes the zip invar-<version>-win64.zip. Nothing is installed outside the prefix.
#
# `install` does not build everything first: the Makefile's install and package
# targets build the two programs, which is all that is installed.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(ZV_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(ZV_PACKAGE_MAINTAINER "invar developers <invar@example.org>" CACHE STRING
    "Maintainer named in the Debian package and its changelog")

set(CPACK_PACKAGE_NAME invar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "invar developers")
set(CPACK_PACKAGE_CONTACT "${ZV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "invariant points and lines of a plane collineation")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS invar glscreen RUNTIME DESTINATION .)
  # The README in the form Windows editors show: CR LF line ends.
  configure_file(${ZV_PACKAGING}/README.windows.txt ${CMAKE_BINARY_DIR}/packaging/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME invar-${PROJECT_VERSION}-win64)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)

# The changelog's newest entry must name this version (a package whose changelog
# lags behind its version is a packaging error).
file(STRINGS ${ZV_PACKAGING}/changelog ZV_CHANGELOG_HEAD LIMIT_COUNT 1)
if(NOT ZV_CHANGELOG_HEAD MATCHES "^invar \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with \"${ZV_CHANGELOG_HEAD}\": "
                      "add an entry for version ${PROJECT_VERSION}")
endif()

# Manual pages and the changelog are installed compressed, reproducibly (no name or
# time stamp in the gzip header), as Debian policy asks. They are compressed when
# CMake configures, and again when a source changes.
find_program(ZV_GZIP gzip REQUIRED)
set(ZV_COMPRESSED ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${ZV_COMPRESSED})
foreach(document invar.1 glscreen.1 changelog)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZV_PACKAGING}/${document})
  execute_process(COMMAND ${ZV_GZIP} -n -9 -c ${ZV_PACKAGING}/${document}
                  OUTPUT_FILE ${ZV_COMPRESSED}/${document}.gz RESULT_VARIABLE status)
  if(status)
    message(FATAL_ERROR "gzip of packaging/${document} failed: ${status}")
  endif()
endforeach()

install(TARGETS invar glscreen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ZV_COMPRESSED}/invar.1.gz ${ZV_COMPRESSED}/glscreen.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZV_PACKAGING}/invar.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
file(GLOB ZV_ICONS ${ZV_PACKAGING}/icons/invar_*.png)
foreach(icon IN LISTS ZV_ICONS)
  string(REGEX REPLACE ".*_([0-9]+)\\.png$" "\\1" size ${icon})
  install(FILES ${icon}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps RENAME invar.png)
endforeach()
install(FILES ${ZV_COMPRESSED}/changelog.gz ${ZV_PACKAGING}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/invar)

# The Debian package: its library dependencies computed from the binaries
# (dpkg-shlibdeps); the X, XShm and GL libraries that the programs load when they open
# a window are recommended, since the programs run on the terminal without them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libx11-6, libxext6, libgl1")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DESCRIPTION_FILE ${ZV_PACKAGING}/description.txt)
include(CPack)
