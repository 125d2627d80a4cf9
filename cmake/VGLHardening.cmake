# The Release builds (Release, RelWithDebInfo) get the hardening that
# Debian's own packages get from dpkg-buildflags: checked string and memory
# functions, stack protectors, a read-only relocation table bound at start
# and position-independent programs. The sanitizer trees and Debug builds go
# without: the sanitizers bring their own checks, and fortified functions
# need an optimised build. Flags a packager already passes are not doubled.
set(VGL_HARDENED OFF)
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$" AND NOT VGL_SANITIZE AND NOT VGL_SANITIZE_THREAD)
    set(VGL_HARDENED ON)
endif()

if(VGL_HARDENED)
    if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
        add_compile_definitions(_FORTIFY_SOURCE=2)
    endif()
    if(NOT CMAKE_CXX_FLAGS MATCHES "-fstack-protector")
        add_compile_options(-fstack-protector-strong)
    endif()
    # Every library here is static and ends up in a program: PIE code, not
    # the slower PIC that CMAKE_POSITION_INDEPENDENT_CODE gives libraries.
    add_compile_options(-fPIE)
    add_link_options(-pie LINKER:-z,relro LINKER:-z,now)
endif()
