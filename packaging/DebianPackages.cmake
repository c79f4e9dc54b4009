# CPack's settings for the two Debian packages; included last by packaging/CMakeLists.txt.
# Descriptions: a summary line, then the long text; CPack indents it and marks empty lines.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvin-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TORVIN_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TORVIN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${_deb_programs})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION electronics)
# The libraries the programs link are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "firmware updater for Torvin04/05 controller boards
Writes the firmware image into Torvin04/05 fuel-dispenser controller boards
(PIC 18F452) through the board's boot Monitor over an RS-232 line.

torvin-updater is the window a technician uses; torvin-upload does the
same from the command line, for scripts; monitor-sim plays a board's
Monitor on a pseudo-terminal, so that uploads can be tried without a board.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${_deb_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# Static libraries: a program that links them needs what they use; the CMake package and the
# pkg-config file find libudev and SQLite through pkg-config.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libsqlite3-dev, libudev-dev, pkgconf | pkg-config")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "serial port component of the Torvin updater (development files)
TComPort owns one serial port: settings, opening and closing, overlapped
reading and writing, modem lines, an event thread that waits for line
events and hands them to the program, and the list of serial adapters
present. It runs on termios.

This package holds the headers, the static libraries, a CMake package
(find_package(TorvinComPort CONFIG), target Torvin::ComPort), a
pkg-config file (torvin-comport), the API reference and an example
program.")

include(CPack)
