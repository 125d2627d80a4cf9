# vgl_install_manpage(<page>): installs a manual page such as vgl.1 into
# man/man<section>, compressed as Debian wants it (gzip -9, no name or time
# stamp in the header, so that the package is the same from build to build).
include(GNUInstallDirs)

function(vgl_install_manpage page)
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
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
