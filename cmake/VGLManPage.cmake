# vgl_install_manpage(<page> [COMPONENT <name>]): installs a manual page such
# as vgl.1 into man/man<section>, compressed as Debian wants it (gzip -9, no
# name or time stamp in the header, so that the package is the same from
# build to build), with the install component of the package it belongs to.
include(GNUInstallDirs)

function(vgl_install_manpage page)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "")
    if(NOT arg_COMPONENT)
        set(arg_COMPONENT ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME})
    endif()
    get_filename_component(source ${page} ABSOLUTE)
    get_filename_component(name ${page} NAME)
    string(REGEX MATCH "[0-9]$" section ${name})
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
    add_custom_command(
        OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND gzip -9 -n -c ${source} > ${compressed}
        DEPENDS ${source}
        COMMENT "Compressing the manual page ${name}"
        VERBATIM)
    string(MAKE_C_IDENTIFIER "man_${name}" target)
    add_custom_target(${target} ALL DEPENDS ${compressed})
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${arg_COMPONENT})
endfunction()
