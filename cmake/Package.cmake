# The Debian package: `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr
# (scripts/package.sh). The libraries' dependencies come from dpkg-shlibdeps; what is loaded
# at run time without being linked is named here.

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane developers")
set(CPACK_PACKAGE_VERSION ${CORVANE_FULL_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "see and change this computer's IPv4 configuration")
# Debian shows at most 80 columns of the extended description.
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane shows a computer's IPv4 configuration in one window: host
information, a tree of every adapter, the interface table, the routing table
with persistent routes, the TCP and UDP endpoints with their owner processes,
and a text report. Without a display it writes the report to standard output,
and a boot unit puts the routes marked persistent back in place.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CORVANE_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corvane developers <developers@corvane.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its window-system plugin at run time; dpkg-shlibdeps cannot see that.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# A font for the window; a DHCP client for releasing and renewing leases.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core | fonts-liberation2, isc-dhcp-client | dhcpcd-base")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/debian/postinst ${PROJECT_SOURCE_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(STATUS "Packages of this build install under ${CMAKE_INSTALL_PREFIX}; "
        "Debian packages belong under /usr (scripts/package.sh)")
endif()

include(CPack)
