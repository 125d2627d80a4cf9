# The Debian package, built by `cpack -G DEB` (`make package`). It packs
# everything the project's install() rules install, so a program that comes
# with its own rules (binary, manual page, service unit) is packed without a
# change here. Dependencies come from dpkg-shlibdeps.
#
# The desktop menu, MIME and icon caches are refreshed by the dpkg triggers
# of desktop-file-utils, shared-mime-info and the icon cache, which watch
# the folders these files go to; Debian policy asks packages to rely on them
# rather than call the tools from maintainer scripts.
include(GNUInstallDirs)

set(VGL_PACKAGE_MAINTAINER "VGL developers <vgl@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# Debian wants the copyright file as it is and the changelog compressed, in
# the Debian changelog format, without a time stamp in the gzip header.
set(vgl_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vgl)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/packaging/changelog
            > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(vgl_package_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${vgl_doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vgl)
set(CPACK_PACKAGE_VENDOR "VGL developers")
set(CPACK_PACKAGE_CONTACT "${VGL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client for SOCKS5 proxy monitors")
# The long description under the summary; lines of at most 80 characters, a
# lone "." for an empty line.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "VGL polls the monitor that runs beside each SOCKS5 proxy server on TCP\n"
       "port 5051. It lists the proxy's active, failed and closed connections in\n"
       "a grid and plots the traffic of each network service in a line graph.\n"
       "Several proxies can be watched side by side, one tab each.\n"
       ".\n"
       "The package also holds vgl-demo-monitor, a monitor that serves made-up\n"
       "traffic, for trying VGL without a proxy.")
if(TARGET vgl-proxy)
    string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION
           "\n.\n"
           "vgl-proxy is a SOCKS5 server that reports its own connections to VGL on\n"
           "port 5051.")
endif()
# The proxy's environment file in /etc is the administrator's to edit: an
# upgrade keeps their changes.
if(TARGET vgl-proxy)
    file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "/etc/default/vgl-proxy\n")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VGL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The install() rules refresh the desktop caches only when installing
# straight into a prefix; DESTDIR tells them that this is a staged install.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/VGLPackageManPages.cmake)
include(CPack)
