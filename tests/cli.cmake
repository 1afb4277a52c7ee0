# velmora-flash: argument handling, port choice, progress and signals in-process, and whole runs of the
# built program.
if(NOT TARGET velmora_cli)
    return()
endif()

velmora_test(test_cli_options SOURCES test_cli_options.cpp LIBS velmora_cli)
if(NOT WIN32)  # a host path a test under wine would not open
    target_compile_definitions(test_cli_options
                               PRIVATE VELMORA_MAN_PAGE="${PROJECT_SOURCE_DIR}/packaging/linux/velmora-flash.1")
endif()
velmora_test(test_cli_ports SOURCES test_cli_ports.cpp LIBS velmora_cli)
velmora_test(test_cli_view SOURCES test_cli_view.cpp LIBS velmora_cli LABELS threads)
# The web page's JSON literals, checked against the JSON library velmora-flash uses.
velmora_test(test_web_json SOURCES test_web_json.cpp LIBS velmora_cli)
if(WIN32)
    return()  # signals and whole runs of the program are POSIX tests; .ci/wine-tests runs the program itself
endif()
velmora_test(test_cli_signals SOURCES test_cli_signals.cpp LIBS velmora_cli LABELS threads)
# Whole runs in-process with Japanese chosen: every text translated, the JSON stream still English.
velmora_test(test_cli_japanese SOURCES test_cli_japanese.cpp LIBS velmora_cli LABELS threads)

velmora_test(test_cli_run SOURCES test_cli_run.cpp LIBS velmora_cli LABELS threads)
target_compile_definitions(test_cli_run PRIVATE VELMORA_FLASH_PROGRAM="$<TARGET_FILE:velmora-flash>"
                                                VELMORA_JSON_DOC="${PROJECT_SOURCE_DIR}/docs/json-events.md")
add_dependencies(test_cli_run velmora-flash)

# The generated bash completion is valid bash and completes an option the hand-written one lacked.
if(UNIX AND NOT APPLE)  # where the packaging generates it
    add_test(NAME cli_bash_completion
             COMMAND bash -c "bash -n \"$1\" && source \"$1\" && COMP_WORDS=(velmora-flash --dry) COMP_CWORD=1 \
                     && { _velmora_flash; [ \"\${COMPREPLY[*]}\" = --dry-run ]; }" -
                     ${PROJECT_BINARY_DIR}/packaging/velmora-flash.bash)
endif()

# Not a test: the device end of a pty for scripts (.ci/real-images) that run velmora-flash --device.
if(UNIX)
    add_executable(velmora-pty-device pty_device.cpp)
    target_link_libraries(velmora-pty-device PRIVATE velmora_emulator velmora_midi_loopback Threads::Threads)
    target_include_directories(velmora-pty-device PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    velmora_warnings(velmora-pty-device)
endif()
