# What `cmake --install` puts in place on Linux and the one Debian package (`cpack -G DEB`) made from it.
# The files under packaging/linux carry @PROJECT_VERSION@ where the version belongs.
set(VELMORA_MAINTAINER "Velmora Updater maintainers <maintainers@velmora-updater.example>")
set(VELMORA_APP_ID net.velmora.Updater)
set(pkg ${PROJECT_SOURCE_DIR}/packaging/linux)
set(out ${PROJECT_BINARY_DIR}/packaging)
include(GNUInstallDirs)

foreach(program velmora-flash velmora-updater velmora-updater-demo)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT velmora)
    endif()
endforeach()

if(TARGET velmora-updater)
    install(FILES ${pkg}/${VELMORA_APP_ID}.desktop ${pkg}/net.velmora.UpdaterDemo.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT velmora)
    configure_file(${pkg}/${VELMORA_APP_ID}.metainfo.xml ${out}/${VELMORA_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${out}/${VELMORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
            COMPONENT velmora)
    foreach(size 16 32 48 64 128 256)
        install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/velmora-${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME ${VELMORA_APP_ID}.png COMPONENT velmora)
    endforeach()
endif()

# Debian wants manual pages and the changelog compressed, reproducibly (-n: no name, no time stamp).
set(man velmora-flash.1)
if(TARGET velmora-updater)
    list(APPEND man velmora-updater.1 velmora-updater-demo.1)
endif()
foreach(page ${man} changelog)
    configure_file(${pkg}/${page} ${out}/${page} @ONLY)
    execute_process(COMMAND gzip -9nf ${out}/${page} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(page ${man})
    install(FILES ${out}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT velmora)
endforeach()
# The completion offers the options of velmora-flash's own table, written from it at build time by a host tool.
add_executable(velmora-flash-completion ${pkg}/velmora-flash-completion.cpp)
target_link_libraries(velmora-flash-completion PRIVATE velmora_cli)
velmora_warnings(velmora-flash-completion)
add_custom_command(OUTPUT ${out}/velmora-flash.bash
                   COMMAND velmora-flash-completion ${pkg}/velmora-flash.bash.in ${out}/velmora-flash.bash
                   DEPENDS velmora-flash-completion ${pkg}/velmora-flash.bash.in VERBATIM)
add_custom_target(velmora-flash-bash-completion ALL DEPENDS ${out}/velmora-flash.bash)
install(FILES ${out}/velmora-flash.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME velmora-flash COMPONENT velmora)
install(FILES ${pkg}/copyright ${out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora-updater
        COMPONENT velmora)

set(CPACK_PACKAGE_NAME velmora-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELMORA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Velmora USB MIDI devices")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL velmora)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts the summary above this and indents each line; an empty line becomes a paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Finds a Velmora device's MIDI ports, identifies the device over MIDI System
Exclusive messages and writes the built-in firmware images onto it, block by
block with CRC-32 checks, time-outs and retries.

The package holds the updater window (velmora-updater), the same window on an
emulated device (velmora-updater-demo) and a command-line version for
terminals and scripts (velmora-flash).")
include(CPack)
