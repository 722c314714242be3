# What `cmake --install` puts where: the program in bin/, its own libraries in a private folder
# it finds relative to itself, the help file, the desktop entry, icons, AppStream metadata,
# the manual page, the boot unit, and the helper's bus, polkit and systemd files when the
# helper is part of the build.

# Where systemd looks for units under this prefix; relative, so packaging can stage it.
set(CORVANE_INSTALL_UNITDIR lib/systemd/system)
set(CORVANE_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/${CORVANE_INSTALL_UNITDIR})
set(CORVANE_FULL_VERSION ${PROJECT_VERSION}.${CORVANE_BUILD_NUMBER})
set(dist ${PROJECT_SOURCE_DIR}/dist)
set(generated ${PROJECT_BINARY_DIR}/dist)

install(TARGETS corvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS corvane-window corvane-iphlpapi corvane-toolhelp
    LIBRARY DESTINATION ${CORVANE_INSTALL_PRIVATE_LIBDIR}
    RUNTIME DESTINATION ${CORVANE_INSTALL_PRIVATE_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/shell/resources/zorvent.hlp
    ${dist}/report.schema.json DESTINATION ${CORVANE_INSTALL_DATADIR})
install(FILES ${dist}/routes-example.cfg ${dist}/routes-delete-example.cfg
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The documents Debian expects of every package: the copyright statement, the package's
# changelog compressed without a time stamp, and the README.
set(CORVANE_RELEASE_DATE 2026-12-08)
# The package's first revision of this upstream version.
set(CORVANE_DEBIAN_REVISION 1)
set(CORVANE_DEBIAN_VERSION ${CORVANE_FULL_VERSION}-${CORVANE_DEBIAN_REVISION})
set(CORVANE_CHANGELOG_DATE "Tue, 08 Dec 2026 12:00:00 +0000")
install(FILES ${dist}/debian/copyright ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
configure_file(${dist}/debian/changelog.in ${generated}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${generated}/changelog.Debian.gz
    COMMAND gzip -9nf -k ${generated}/changelog.Debian
    DEPENDS ${generated}/changelog.Debian VERBATIM)
add_custom_target(corvane_changelog ALL DEPENDS ${generated}/changelog.Debian.gz)
install(FILES ${generated}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${dist}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME corvane)

# The desktop: launcher, metadata, icons.
install(FILES ${dist}/org.corvane.Corvane.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
set(CORVANE_VERSION ${CORVANE_FULL_VERSION})
configure_file(${dist}/org.corvane.Corvane.metainfo.xml.in
    ${generated}/org.corvane.Corvane.metainfo.xml @ONLY)
install(FILES ${generated}/org.corvane.Corvane.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${dist}/icons/corvane.svg DESTINATION ${icon_dir}/scalable/apps)
find_program(CORVANE_RSVG_CONVERT rsvg-convert)
if(CORVANE_RSVG_CONVERT)
    set(pngs)
    foreach(size 16 22 24 32 48 64 128 256)
        set(png ${generated}/icons/${size}x${size}/corvane.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}x${size}
            COMMAND ${CORVANE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${dist}/icons/corvane.svg
            DEPENDS ${dist}/icons/corvane.svg VERBATIM)
        list(APPEND pngs ${png})
        install(FILES ${png} DESTINATION ${icon_dir}/${size}x${size}/apps)
    endforeach()
    add_custom_target(corvane_icons ALL DEPENDS ${pngs})
else()
    message(WARNING "rsvg-convert not found (librsvg2-bin): only the scalable icon is installed")
endif()

# The manual page, with the installed folders filled in, compressed as Debian keeps them.
set(CORVANE_FULL_DATADIR ${CORVANE_INSTALL_FULL_DATADIR})
set(CORVANE_FULL_PRIVATE_LIBDIR ${CORVANE_INSTALL_FULL_PRIVATE_LIBDIR})
set(CORVANE_FULL_DOCDIR ${CMAKE_INSTALL_FULL_DOCDIR})
set(CORVANE_VERSION ${CORVANE_FULL_VERSION})
configure_file(${dist}/man/corvane.1.in ${generated}/corvane.1 @ONLY)
add_custom_command(OUTPUT ${generated}/corvane.1.gz
    COMMAND gzip -9nf -k ${generated}/corvane.1
    DEPENDS ${generated}/corvane.1 VERBATIM)
add_custom_target(corvane_manpage ALL DEPENDS ${generated}/corvane.1.gz)
install(FILES ${generated}/corvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The boot unit runs the installed program.
configure_file(${dist}/corvane-restore-routes.service.in
    ${generated}/corvane-restore-routes.service @ONLY)
install(FILES ${generated}/corvane-restore-routes.service DESTINATION ${CORVANE_INSTALL_UNITDIR})

include(${CMAKE_CURRENT_LIST_DIR}/InstallHelper.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
