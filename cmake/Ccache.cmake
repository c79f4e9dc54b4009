# ccache, when installed, for every tree: a second build (another clone, a sanitizer tree) does not
# compile unchanged files again. Paths inside the tree and the working folder are left out of the
# hash, so that clones share what they compiled. CCACHE_DISABLE=1 in the environment builds cold.
find_program(CCACHE_PROGRAM ccache)
# (A tree configured with a bare "ccache" launcher gets this one.)
if(CCACHE_PROGRAM AND (NOT CMAKE_CXX_COMPILER_LAUNCHER OR CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache$"))
    set(_ccache ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=true
                ${CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${_ccache})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${_ccache})
endif()
