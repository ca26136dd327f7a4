# SPDX-License-Identifier: GPL-2.0-or-later
# What `cmake --install` puts on a system, and the Debian package `cpack -G DEB`
# makes of the same set: the program (src/main), its desktop entry, AppStream
# metainfo, icons, manual page, udev rule and copyright file.
include(GNUInstallDirs)

set(TAVRIN_APP_ID org.tavrin.Capture)
# udev reads /usr/lib/udev/rules.d (and /etc), never a /usr/local prefix, so the rule
# goes there whatever the prefix.
set(TAVRIN_UDEV_RULES_DIR "/usr/lib/udev/rules.d" CACHE PATH "Where udev reads the board's access rule")
# AppStream wants web addresses for screenshots: where the repository's docs/ folder is published.
set(TAVRIN_DOCS_URL "https://tavrin.invalid/docs" CACHE STRING "Web address of the docs/ folder")
set(TAVRIN_MAINTAINER "Tavrin Capture developers <packaging@tavrin.invalid>" CACHE STRING
    "The Debian package's maintainer")

set(res ${CMAKE_SOURCE_DIR}/resources)
set(gen ${CMAKE_BINARY_DIR}/packaging)
configure_file(${res}/${TAVRIN_APP_ID}.metainfo.xml.in ${gen}/${TAVRIN_APP_ID}.metainfo.xml @ONLY)

# Manual page and changelog compressed as Debian wants them (-n: no name or time stamp,
# so the package is the same from one build to the next).
find_program(TAVRIN_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${gen}/tavrin-capture.1.gz
  COMMAND ${TAVRIN_GZIP} -9nc ${res}/tavrin-capture.1 > ${gen}/tavrin-capture.1.gz
  DEPENDS ${res}/tavrin-capture.1 VERBATIM)
# The release's own date (as in the metainfo), so that every build makes the same package.
set(tavrin_changelog_date "Tue, 08 Dec 2026 00:00:00 +0000")
file(CONFIGURE OUTPUT ${gen}/changelog CONTENT "tavrin-capture (${PROJECT_VERSION}) unstable; urgency=medium

  * The first release for Linux.

 -- ${TAVRIN_MAINTAINER}  ${tavrin_changelog_date}
")
add_custom_command(OUTPUT ${gen}/changelog.gz
  COMMAND ${TAVRIN_GZIP} -9nc ${gen}/changelog > ${gen}/changelog.gz
  DEPENDS ${gen}/changelog VERBATIM)
add_custom_target(tavrin_packaging_files ALL DEPENDS ${gen}/tavrin-capture.1.gz ${gen}/changelog.gz)

install(FILES ${res}/${TAVRIN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${gen}/${TAVRIN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${gen}/tavrin-capture.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${res}/70-tavrin-capture.rules DESTINATION ${TAVRIN_UDEV_RULES_DIR})
install(FILES ${res}/copyright ${gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavrin-capture)
foreach(size 16 32 48 64 128 256)
  install(FILES ${res}/icons/tavrin-capture-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${TAVRIN_APP_ID}.png)
endforeach()
install(FILES ${res}/icons/tavrin-capture.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${TAVRIN_APP_ID}.svg)

set(CPACK_PACKAGE_NAME tavrin-capture)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TAVRIN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer and recorder for a handheld console's USB capture board")
# The long description; CPack puts the summary above it as the synopsis line.
set(CPACK_PACKAGE_DESCRIPTION "Tavrin Capture shows the picture of a USB capture board fitted inside a
dual-screen handheld game console, live in one or two scalable windows. It
saves numbered PNG screenshots, records AVI files with the computer's sound
and brings the board's firmware up to date when the board asks for it.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies as dpkg-shlibdeps computes them from the binary (needs dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by Qt at run time, so no library dependency names it: native Wayland windows.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pavucontrol")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
include(CPack)
