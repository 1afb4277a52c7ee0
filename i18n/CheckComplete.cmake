# cmake -DLUPDATE=... -DTS=... -DSOURCES_LIST=... -DOPTIONS=... -DWORK=... -P CheckComplete.cmake
# Collects the texts of the sources into a copy of the TS file, as the target update_translations would, and
# fails while one of them has no translation there, or while the file holds texts the sources no longer have.
file(MAKE_DIRECTORY ${WORK})
file(COPY_FILE ${TS} ${WORK}/velmora_ja.ts)
file(READ ${TS} before)
string(REGEX MATCHALL "<message>" kept "${before}")
list(LENGTH kept kept)

separate_arguments(options UNIX_COMMAND "${OPTIONS}")
execute_process(COMMAND ${LUPDATE} ${options} @${SOURCES_LIST} -ts ${WORK}/velmora_ja.ts
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "lupdate failed (${status}):\n${output}")
endif()

file(READ ${WORK}/velmora_ja.ts after)
string(REGEX MATCHALL "<message>" found "${after}")
list(LENGTH found found)
string(REGEX MATCHALL "<source>[^<]*</source>[ \n]*<translation type=\"unfinished\"" missing "${after}")
if(missing)
    string(REGEX REPLACE "<source>([^<]*)</source>[^;]*" "  \\1\n" missing "${missing}")
    message(FATAL_ERROR "Texts without a Japanese translation in i18n/velmora_ja.ts (run the target "
                        "update_translations, then translate them there):\n${missing}")
endif()
if(NOT found EQUAL kept)
    message(FATAL_ERROR "i18n/velmora_ja.ts holds ${kept} texts, the sources ${found}: run the target "
                        "update_translations to drop those no longer used.")
endif()
message(STATUS "All ${found} texts of the sources have a Japanese translation.")
