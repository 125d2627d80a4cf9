# Compiling through ccache (scripts/install-deps installs it) keeps objects
# across branches and cleans of a checkout: `make test CCACHE=1`, or
# -DVGL_CCACHE=ON. It is off by default because a build that finds nothing in
# the cache pays for hashing and storing every precompiled header, which made a
# fresh build of the main tree half as slow again; one that finds everything
# takes about a third of the time. A precompiled header names its clone's
# folder, so clones share little. In depend mode ccache takes the headers
# from the compiler's dependency file instead of running the preprocessor
# first; the sloppiness lets it cache objects built with a precompiled
# header; the base folder lets clones share the objects built without one. A
# launcher given on the command line is left alone.
option(VGL_CCACHE "Compile through ccache" OFF)
if(VGL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    find_program(VGL_CCACHE_PROGRAM ccache REQUIRED)
    set(CMAKE_CXX_COMPILER_LAUNCHER
        env CCACHE_DEPEND=1 CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
        ${VGL_CCACHE_PROGRAM})
endif()
