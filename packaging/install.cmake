# SPDX-License-Identifier: MIT
# Where `cmake --install` puts Glitchwerk, and the Debian package built from
# that layout by CPack (`make package`).
include(GNUInstallDirs)

set(GLITCHWERK_APP_ID org.glitchwerk.Glitchwerk)
set(GLITCHWERK_DESKTOP_ENTRY ${CMAKE_CURRENT_LIST_DIR}/${GLITCHWERK_APP_ID}.desktop)
set(GLITCHWERK_METAINFO ${CMAKE_CURRENT_LIST_DIR}/${GLITCHWERK_APP_ID}.metainfo.xml)

# The program itself exists once app/ is in the tree.
if(TARGET glitchwerk)
    install(TARGETS glitchwerk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${GLITCHWERK_DESKTOP_ENTRY} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${GLITCHWERK_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The licence in Debian's machine-readable copyright format, made from LICENSE
# (below its title and copyright line), so that the two always agree.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
list(SUBLIST license_lines 4 -1 license_lines)
list(TRANSFORM license_lines PREPEND " ")
list(TRANSFORM license_lines REPLACE "^ $" " .")
list(JOIN license_lines "\n" GLITCHWERK_LICENSE_TEXT)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(icons ${PROJECT_SOURCE_DIR}/app/icons)
set(hicolor ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${icons}/glitchwerk-16.png DESTINATION ${hicolor}/16x16/apps RENAME glitchwerk.png)
install(FILES ${icons}/glitchwerk-32.png DESTINATION ${hicolor}/32x32/apps RENAME glitchwerk.png)
install(FILES ${icons}/glitchwerk.svg DESTINATION ${hicolor}/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glitchwerk)
set(CPACK_PACKAGE_VENDOR "Glitchwerk developers")
set(CPACK_PACKAGE_CONTACT "Glitchwerk developers <developers@glitchwerk.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "corrupt chosen bytes of a file for glitch art")
set(CPACK_PACKAGE_DESCRIPTION [[
Glitchwerk corrupts chosen bytes of a file in place, mostly ROM images for
glitch art, and puts the file back from a backup copy kept in Glitchwerk.dat
in the current directory.]])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The Qt 6 libraries the program links, found by dpkg-shlibdeps; the X11
# platform plugin ships in libqt6gui6, which is among them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debian's cores Depend on "retroarch | libretro-frontend": glitchwerk-play is
# one, so that they install without RetroArch (./glitchwerk.sh package checks).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libretro-nestopia, libretro-gambatte, libretro-core-info")
set(CPACK_DEBIAN_PACKAGE_PROVIDES "libretro-frontend")
include(CPack)
