# Run by CPack on the staged files, before it packs them: Debian wants every
# manual page compressed with gzip -9 and no name or time stamp in the
# header. A page that an install() rule left plain is compressed here, so a
# program's own rules need not know.
# Each package's files are staged in a folder of their own under the temporary one.
file(GLOB_RECURSE vgl_pages LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(page IN LISTS vgl_pages)
    if(NOT page MATCHES "/usr/share/man/" OR page MATCHES "\\.gz$" OR IS_SYMLINK "${page}")
        continue()
    endif()
    execute_process(COMMAND gzip -9 -n -f "${page}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Could not compress the manual page ${page}")
    endif()
endforeach()
