# The languages: the lookup and the TS reader (Qt-free), and, where Qt's tools are, a check that every text of
# the sources has its Japanese translation.
velmora_test(test_i18n SOURCES test_i18n.cpp LIBS velmora_i18n velmora_update velmora_emulator velmora_midi_loopback)

if(WIN32 OR NOT VELMORA_UI OR NOT DEFINED velmora_text_sources)
    return()
endif()
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)
list(JOIN velmora_text_sources "\n" sources_list)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/i18n_sources.lst CONTENT "${sources_list}\n")
list(JOIN velmora_lupdate_options " " options)
add_test(NAME i18n_complete
         COMMAND ${CMAKE_COMMAND} -DLUPDATE=$<TARGET_FILE:Qt6::lupdate> -DTS=${velmora_ts_files}
                 -DSOURCES_LIST=${CMAKE_CURRENT_BINARY_DIR}/i18n_sources.lst "-DOPTIONS=${options}"
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/i18n_check -P ${PROJECT_SOURCE_DIR}/i18n/CheckComplete.cmake)
