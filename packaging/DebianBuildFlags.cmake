# Debian's usual hardening, as its packages are built: the flags dpkg-buildflags gives (stack
# protector, _FORTIFY_SOURCE, format checks, read-only relocations bound at start), for every
# program and library of the tree. Only the hardening is taken: the optimisation and debugging
# flags stay the build type's, and the flag that names the source folder would keep clones from
# sharing compiled objects. Left out of the sanitizer trees (the sanitizers replace the checked
# functions themselves) and of cross builds (the flags are this machine's).
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
set(_hardening_default OFF)
if(DPKG_BUILDFLAGS AND NOT SANITIZER AND NOT CMAKE_CROSSCOMPILING)
    set(_hardening_default ON)
endif()
option(DEBIAN_HARDENING "Build with the hardening flags of dpkg-buildflags" ${_hardening_default})
if(NOT DEBIAN_HARDENING)
    return()
endif()
if(NOT DPKG_BUILDFLAGS)
    message(FATAL_ERROR "DEBIAN_HARDENING needs dpkg-buildflags (Debian: dpkg-dev)")
endif()

function(debian_build_flags kind out)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    list(FILTER _flags EXCLUDE REGEX "^(-g.*|-O.*|-f(file|debug|macro)-prefix-map=.*)$")
    set(${out} ${_flags} PARENT_SCOPE)
endfunction()

debian_build_flags(CPPFLAGS _cppflags)
debian_build_flags(CXXFLAGS _cxxflags)
debian_build_flags(LDFLAGS _ldflags)
# _FORTIFY_SOURCE needs an optimising build; without one glibc warns, and the test trees make
# warnings errors.
list(TRANSFORM _cppflags REPLACE "^(-D_FORTIFY_SOURCE=.*)$"
     "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:\\1>")
add_compile_options(${_cppflags} ${_cxxflags})
add_link_options(${_ldflags})
message(STATUS "Debian hardening: ${_cppflags} ${_cxxflags} ${_ldflags}")
