# What a release holds and how CPack packs it (scripts/package.sh runs it):
# - Linux: one .deb with ostrakan-cli and ostrakan-sim, their man pages, the
#   bash completion and the docs;
# - Windows: one zip per build, ostrakan-<version>-win32.zip or -win64.zip,
#   with ostrakan.exe and the user guide.
# The version is the project's, like everything else that shows one.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME ostrakan)
set(CPACK_PACKAGE_VENDOR "Ostrakan developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the ТМКР 3170-12 telemetry controller")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
    install(TARGETS ostrakan RUNTIME DESTINATION .)
    if(TARGET ostrakan-cli)
        install(TARGETS ostrakan-cli RUNTIME DESTINATION .)
    endif()

    # The guides as text files any Notepad reads: UTF-8 with a byte-order mark
    # (older Notepads take text without one as the ANSI code page) and CRLF.
    string(ASCII 239 187 191 utf8_bom)
    foreach(guide_pair "windows.md;user-guide.txt" "cli-and-simulator.md;cli-guide.txt")
        list(GET guide_pair 0 source)
        list(GET guide_pair 1 target)
        file(READ ${PROJECT_SOURCE_DIR}/docs/${source} guide)
        file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/${target}
             CONTENT "${utf8_bom}${guide}" @ONLY NEWLINE_STYLE CRLF)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/${source})
        install(FILES ${PROJECT_BINARY_DIR}/${target} DESTINATION .)
    endforeach()

    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(windows_bits win64)
    else()
        set(windows_bits win32)
    endif()
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ostrakan-${PROJECT_VERSION}-${windows_bits})
else()
    install(TARGETS ostrakan-cli ostrakan-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

    # Man pages: the version filled in, gzipped without a name or time stamp so
    # that the same sources give the same bytes.
    set(man_pages)
    foreach(page ostrakan-cli.1 ostrakan-sim.1)
        configure_file(docs/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
        add_custom_command(
            OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
            COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/man/${page} > ${PROJECT_BINARY_DIR}/man/${page}.gz
            DEPENDS ${PROJECT_BINARY_DIR}/man/${page}
            VERBATIM)
        list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${page}.gz)
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    install(FILES tools/cli/ostrakan-cli.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME ostrakan-cli)

    file(GLOB doc_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
    install(FILES README.md ${doc_pages} DESTINATION ${CMAKE_INSTALL_DOCDIR})

    set(OSTRAKAN_MAINTAINER "Ostrakan developers <ostrakan@example.org>"
        CACHE STRING "Maintainer field of the .deb")
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OSTRAKAN_MAINTAINER}")
    set(CPACK_DEBIAN_PACKAGE_SECTION comm)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # Depends from what the binaries link (libc, libgcc, libstdc++), by dpkg-shlibdeps.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_PACKAGE_DESCRIPTION
        "ostrakan-cli reads and writes the controller's parameters (polling period, own
address, three telephone numbers), its 31 discrete channels and its cellular
modem's internet profile over a serial port, with the same core as the Windows
program ostrakan.exe. ostrakan-sim simulates the controller and the modem on a
pseudo-terminal, with scriptable faults.")
endif()

include(CPack)
