# The Windows packages, made with CPack (cmake --build build-windows --target package) as ZIP
# files in build-windows/packages/:
#   torvin-upload-<version>-windows-x64.zip       torvin-upload.exe and the window
#                                                  (torvin-updater.exe), a README for Windows
#                                                  users, the licence;
#   torvin-comport-dev-<version>-windows-x64.zip  the serial port component for other programs:
#                                                  headers, static libraries, a CMake package
#                                                  (find_package(TorvinComPort CONFIG)), and the
#                                                  example terminal with its source.
include(CMakePackageConfigHelpers)
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_out ${CMAKE_BINARY_DIR}/packaging)

# and, beside them, made by the build itself with Debian's nsis:
#   torvin-updater-<version>-setup.exe            the installer (windows/installer.nsi).

# --- for technicians ----------------------------------------------------------------------------
install(TARGETS torvin-upload RUNTIME DESTINATION . COMPONENT upload)
if(TARGET torvin-updater)
    install(TARGETS torvin-updater RUNTIME DESTINATION . COMPONENT upload)
endif()
install(FILES ${_pkg}/windows/README.txt DESTINATION . COMPONENT upload)
install(FILES ${_pkg}/copyright DESTINATION . RENAME LICENSE.txt COMPONENT upload)

# --- for developers -----------------------------------------------------------------------------
install(TARGETS comport framework EXPORT TorvinComPortTargets
        ARCHIVE DESTINATION lib COMPONENT development)
# The headers a program includes and what they include (PublicHeaders.cmake), as on Linux.
include(${_pkg}/PublicHeaders.cmake)
public_headers(_headers)
foreach(_h ${_headers})
    get_filename_component(_dir ${_h} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${_h} DESTINATION include/torvin/${_dir}
            COMPONENT development)
endforeach()
set(_cmakedir lib/cmake/TorvinComPort)
install(EXPORT TorvinComPortTargets NAMESPACE Torvin:: DESTINATION ${_cmakedir}
        COMPONENT development)
configure_package_config_file(${_pkg}/TorvinComPortConfig.cmake.in
                              ${_out}/TorvinComPortConfig.cmake
                              INSTALL_DESTINATION ${_cmakedir})
write_basic_package_version_file(${_out}/TorvinComPortConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${_out}/TorvinComPortConfig.cmake
              ${_out}/TorvinComPortConfigVersion.cmake
        DESTINATION ${_cmakedir} COMPONENT development)
install(TARGETS comport-terminal RUNTIME DESTINATION bin COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/comport-terminal DESTINATION examples
        COMPONENT development)
install(FILES ${_pkg}/copyright DESTINATION . RENAME LICENSE.txt COMPONENT development)
# How to build a program against it: CMake with a cross toolchain, -static, the libraries by hand.
install(FILES ${_pkg}/windows/README-development.txt DESTINATION . RENAME README.txt
        COMPONENT development)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME torvin-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL upload development)
set(CPACK_ARCHIVE_UPLOAD_FILE_NAME torvin-upload-${PROJECT_VERSION}-windows-x64)
set(CPACK_ARCHIVE_DEVELOPMENT_FILE_NAME torvin-comport-dev-${PROJECT_VERSION}-windows-x64)
# The same bytes for the same sources.
set(CPACK_ARCHIVE_THREADS 1)
set(CPACK_STRIP_FILES ON)
include(CPack)

# --- the installer --------------------------------------------------------------------------------
# Made whenever the window is built. TORVIN_UPDATER_EXE names a window built elsewhere, to try
# the installer in a tree without one.
set(TORVIN_UPDATER_EXE "" CACHE FILEPATH "A torvin-updater.exe for the installer when this tree builds none")
if(TARGET torvin-updater)
    set(_window $<TARGET_FILE:torvin-updater>)
    set(_window_target torvin-updater)
else()
    set(_window ${TORVIN_UPDATER_EXE})
    set(_window_target)
endif()
if(_window)
    find_program(MAKENSIS makensis)
    if(NOT MAKENSIS)
        message(FATAL_ERROR "makensis (Debian's nsis) makes the installer: run scripts/setup.sh")
    endif()
    set(_stage ${_out}/installer)
    set(_setup ${CMAKE_BINARY_DIR}/packages/torvin-updater-${PROJECT_VERSION}-setup.exe)
    add_custom_command(
        OUTPUT ${_setup}
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage} ${CMAKE_BINARY_DIR}/packages
        COMMAND ${CMAKE_STRIP} -o ${_stage}/torvin-updater.exe ${_window}
        COMMAND ${CMAKE_STRIP} -o ${_stage}/torvin-upload.exe $<TARGET_FILE:torvin-upload>
        COMMAND ${CMAKE_COMMAND} -E copy ${_pkg}/windows/README.txt ${_stage}/README.txt
        COMMAND ${CMAKE_COMMAND} -E copy ${_pkg}/copyright ${_stage}/LICENSE.txt
        COMMAND ${MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${_stage}
                "-DPUBLISHER=Torvin updater developers" -DOUTFILE=${_setup}
                ${_pkg}/windows/installer.nsi
        DEPENDS torvin-upload ${_window_target} ${_window} ${_pkg}/windows/installer.nsi
                ${_pkg}/windows/README.txt ${_pkg}/copyright
        COMMENT "Making the installer torvin-updater-${PROJECT_VERSION}-setup.exe"
        VERBATIM)
    add_custom_target(installer ALL DEPENDS ${_setup})
endif()
