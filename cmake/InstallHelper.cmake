# The privileged helper's install rules, when this tree builds it: the program in libexec
# and its bus activation file, bus policy, polkit actions and systemd unit, each named by a
# CORVANE_HELPER_<KIND> variable (and optionally placed by CORVANE_HELPER_<KIND>_DEST). The
# files may name the installed helper as @CORVANE_HELPER_PATH@; a trailing .in is dropped.
# Needs `generated` (the folder for the filled-in files) and CORVANE_INSTALL_UNITDIR.
if(TARGET corvane-helper)
    if(NOT CORVANE_HELPER_EXEC_DEST)
        set(CORVANE_HELPER_EXEC_DEST ${CMAKE_INSTALL_LIBEXECDIR})
    endif()
    install(TARGETS corvane-helper RUNTIME DESTINATION ${CORVANE_HELPER_EXEC_DEST})
    set(CORVANE_HELPER_PATH ${CMAKE_INSTALL_PREFIX}/${CORVANE_HELPER_EXEC_DEST}/corvane-helper)
    set(helper_defaults
        DBUS_SERVICE ${CMAKE_INSTALL_DATADIR}/dbus-1/system-services
        DBUS_POLICY ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d
        POLKIT_POLICY ${CMAKE_INSTALL_DATADIR}/polkit-1/actions
        SYSTEMD_UNIT ${CORVANE_INSTALL_UNITDIR})
    while(helper_defaults)
        list(POP_FRONT helper_defaults kind default_dest)
        set(file ${CORVANE_HELPER_${kind}})
        if(NOT file)
            continue()
        endif()
        set(dest ${CORVANE_HELPER_${kind}_DEST})
        if(NOT dest)
            set(dest ${default_dest})
        endif()
        get_filename_component(name ${file} NAME)
        string(REGEX REPLACE "\\.in$" "" name ${name})
        configure_file(${file} ${generated}/helper/${name} @ONLY)
        install(FILES ${generated}/helper/${name} DESTINATION ${dest})
    endwhile()
    # Its manual page, compressed as Debian keeps them.
    configure_file(${dist}/man/corvane-helper.8.in ${generated}/corvane-helper.8 @ONLY)
    add_custom_command(OUTPUT ${generated}/corvane-helper.8.gz
        COMMAND gzip -9nf -k ${generated}/corvane-helper.8
        DEPENDS ${generated}/corvane-helper.8 VERBATIM)
    add_custom_target(corvane_helper_manpage ALL DEPENDS ${generated}/corvane-helper.8.gz)
    install(FILES ${generated}/corvane-helper.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
endif()
