# Installs a server's systemd unit, its environment file and, when it has
# one, its commented configuration file (vgl-proxy, vgl-monitor). The unit
# names the folders of the prefix being installed to (/usr for the Debian
# package, /usr/local for a plain `cmake --install`), so it is made at
# install time rather than when the build is configured. Set by the caller:
# VGL_SERVICE (the program), VGL_SERVICE_DIR (its sources) and
# VGL_SERVICE_STAGE (a folder of the build).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(CMAKE_INSTALL_FULL_SYSCONFDIR /etc)
else()
    set(CMAKE_INSTALL_FULL_SYSCONFDIR "${CMAKE_INSTALL_PREFIX}/etc")
endif()
set(CMAKE_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
configure_file("${VGL_SERVICE_DIR}/${VGL_SERVICE}.service.in"
               "${VGL_SERVICE_STAGE}/${VGL_SERVICE}.service" @ONLY)
file(INSTALL "${VGL_SERVICE_STAGE}/${VGL_SERVICE}.service"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
file(INSTALL "${VGL_SERVICE_DIR}/${VGL_SERVICE}.default"
     DESTINATION "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default" RENAME ${VGL_SERVICE})
if(EXISTS "${VGL_SERVICE_DIR}/${VGL_SERVICE}.conf")
    file(INSTALL "${VGL_SERVICE_DIR}/${VGL_SERVICE}.conf"
         DESTINATION "${CMAKE_INSTALL_FULL_SYSCONFDIR}/${VGL_SERVICE}")
endif()
