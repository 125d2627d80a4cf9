# The Debian packages, built by `cpack -G DEB` (`make package`): vgl (the
# desktop program and the demo monitor: install() rules that name no
# component) and vgl-proxy (the server: the rules of component "proxy"), so
# that a headless server installs the proxy without Qt. Dependencies come
# from dpkg-shlibdeps, for each package from its own programs.
#
# The desktop menu, MIME and icon caches are refreshed by the dpkg triggers
# of desktop-file-utils, shared-mime-info and the icon cache, which watch
# the folders these files go to; Debian policy asks packages to rely on them
# rather than call the tools from maintainer scripts.
include(GNUInstallDirs)

set(VGL_PACKAGE_MAINTAINER "VGL developers <vgl@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# Debian wants the copyright file as it is and the changelog compressed, in
# the Debian changelog format, without a time stamp in the gzip header; each
# package has its own.
function(vgl_package_doc package changelog component)
    set(changelog_out ${PROJECT_BINARY_DIR}/packaging/${package}/changelog)
    configure_file(${changelog} ${changelog_out} @ONLY)
    add_custom_command(
        OUTPUT ${changelog_out}.gz
        COMMAND gzip -9 -n -c ${changelog_out} > ${changelog_out}.gz
        DEPENDS ${changelog_out}
        VERBATIM)
    add_custom_target(vgl_package_changelog_${component} ALL DEPENDS ${changelog_out}.gz)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog_out}.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()
vgl_package_doc(vgl ${PROJECT_SOURCE_DIR}/packaging/changelog.in vgl)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vgl)
set(CPACK_PACKAGE_VENDOR "VGL developers")
set(CPACK_PACKAGE_CONTACT "${VGL_PACKAGE_MAINTAINER}")
# Each package's description starts with its own summary line; no summary
# for all, which CPack would put before each.
set(vgl_summary "client for SOCKS5 proxy monitors")
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
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL vgl)
set(CPACK_DEBIAN_VGL_PACKAGE_NAME vgl)
set(CPACK_DEBIAN_VGL_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_VGL_DESCRIPTION "${vgl_summary}\n${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
# Qt loads its platform plugins at run time, so dpkg-shlibdeps cannot see
# them; an install without recommended packages could not open a window.
set(CPACK_DEBIAN_VGL_PACKAGE_DEPENDS "qt6-qpa-plugins")
if(TARGET vgl-proxy)
    vgl_package_doc(vgl-proxy ${PROJECT_SOURCE_DIR}/packaging/vgl-proxy.changelog.in proxy)
    list(APPEND CPACK_COMPONENTS_ALL proxy)
    set(CPACK_DEBIAN_PROXY_PACKAGE_NAME vgl-proxy)
    set(CPACK_DEBIAN_PROXY_FILE_NAME DEB-DEFAULT)
    string(CONCAT CPACK_DEBIAN_PROXY_DESCRIPTION
           "SOCKS5 server that reports its connections to VGL\n"
           "vgl-proxy is a SOCKS5 server (RFC 1928, with RFC 1929 passwords) with a\n"
           "monitor on TCP port 5051 that VGL polls: each connection shows there with\n"
           "its client, user, destination, service, bytes and result, failed logins and\n"
           "refusals included. It refuses its own ports and, to other machines, this\n"
           "machine's private addresses; operators add pass and block rules in a TOML\n"
           "file that SIGHUP reloads. Optional Prometheus metrics come with a scrape\n"
           "job and a dashboard.")
    # The files in /etc are the administrator's to edit: an upgrade keeps
    # their changes. The maintainer scripts enable the unit on a first
    # install and forget it on a purge, through deb-systemd-helper.
    file(WRITE ${PROJECT_BINARY_DIR}/packaging/vgl-proxy/conffiles
         "/etc/default/vgl-proxy\n/etc/vgl-proxy/vgl-proxy.conf\n")
    set(CPACK_DEBIAN_PROXY_PACKAGE_CONTROL_EXTRA
        ${PROJECT_BINARY_DIR}/packaging/vgl-proxy/conffiles
        ${PROJECT_SOURCE_DIR}/packaging/vgl-proxy/postinst
        ${PROJECT_SOURCE_DIR}/packaging/vgl-proxy/prerm
        ${PROJECT_SOURCE_DIR}/packaging/vgl-proxy/postrm)
    set(CPACK_DEBIAN_PROXY_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_PROXY_PACKAGE_DEPENDS "init-system-helpers (>= 1.52)")
endif()
if(TARGET vgl-monitor)
    vgl_package_doc(vgl-monitor ${PROJECT_SOURCE_DIR}/packaging/vgl-monitor.changelog.in monitor)
    list(APPEND CPACK_COMPONENTS_ALL monitor)
    set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME vgl-monitor)
    set(CPACK_DEBIAN_MONITOR_FILE_NAME DEB-DEFAULT)
    string(CONCAT CPACK_DEBIAN_MONITOR_DESCRIPTION
           "monitor for VGL beside the Dante SOCKS5 server\n"
           "vgl-monitor serves the monitor protocol that VGL polls on TCP port 5051\n"
           "for a Dante server: each session from Dante's log or journal, with its\n"
           "user, client, destination, service, bytes and result, and the live bytes\n"
           "of open sessions from the kernel's socket diagnostics. It also checks any\n"
           "monitor against the protocol (--check).")
    file(WRITE ${PROJECT_BINARY_DIR}/packaging/vgl-monitor/conffiles "/etc/default/vgl-monitor\n")
    set(CPACK_DEBIAN_MONITOR_PACKAGE_CONTROL_EXTRA
        ${PROJECT_BINARY_DIR}/packaging/vgl-monitor/conffiles
        ${PROJECT_SOURCE_DIR}/packaging/vgl-monitor/postinst
        ${PROJECT_SOURCE_DIR}/packaging/vgl-monitor/prerm
        ${PROJECT_SOURCE_DIR}/packaging/vgl-monitor/postrm)
    set(CPACK_DEBIAN_MONITOR_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_MONITOR_PACKAGE_DEPENDS "init-system-helpers (>= 1.52)")
    set(CPACK_DEBIAN_MONITOR_PACKAGE_SUGGESTS "dante-server")
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
