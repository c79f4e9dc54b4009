# The Windows packages, made with CPack (cmake --build build-windows --target package) as ZIP
# files in build-windows/packages/:
#   torvin-upload-<version>-windows-x64.zip       torvin-upload.exe, a README for Windows users,
#                                                  the licence;
#   torvin-comport-dev-<version>-windows-x64.zip  the serial port component for other programs:
#                                                  headers, static libraries, a CMake package
#                                                  (find_package(TorvinComPort CONFIG)), and the
#                                                  example terminal with its source.
include(CMakePackageConfigHelpers)
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_out ${CMAKE_BINARY_DIR}/packaging)

# --- for technicians ----------------------------------------------------------------------------
install(TARGETS torvin-upload RUNTIME DESTINATION . COMPONENT upload)
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
