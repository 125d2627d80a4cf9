# Installs vgl-proxy's systemd unit, its environment file and its commented
# configuration file. Both name the
# folders of the prefix being installed to (/usr for the Debian package,
# /usr/local for a plain `cmake --install`), so they are made at install
# time rather than when the build is configured. Set by the caller:
# VGL_PROXY_DIR (the sources) and VGL_PROXY_STAGE (a folder of the build).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(CMAKE_INSTALL_FULL_SYSCONFDIR /etc)
else()
    set(CMAKE_INSTALL_FULL_SYSCONFDIR "${CMAKE_INSTALL_PREFIX}/etc")
endif()
set(CMAKE_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
configure_file("${VGL_PROXY_DIR}/vgl-proxy.service.in" "${VGL_PROXY_STAGE}/vgl-proxy.service" @ONLY)
file(INSTALL "${VGL_PROXY_STAGE}/vgl-proxy.service"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
file(INSTALL "${VGL_PROXY_DIR}/vgl-proxy.default"
     DESTINATION "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default" RENAME vgl-proxy)
file(INSTALL "${VGL_PROXY_DIR}/vgl-proxy.conf"
     DESTINATION "${CMAKE_INSTALL_FULL_SYSCONFDIR}/vgl-proxy")
