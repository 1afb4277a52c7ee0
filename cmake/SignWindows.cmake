# Signs Windows programs and packages in place with osslsigncode (Authenticode, SHA-256):
#   cmake -DOSSLSIGNCODE=PATH -DPKCS12=FILE -DWORK=DIR -P SignWindows.cmake FILE...
# The certificate's password comes from the environment (VELMORA_SIGN_PASSWORD) and reaches osslsigncode in a
# file in DIR that only its owner may read, never on a command line other users can list.
set(files)
set(first -1)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
    if(first GREATER_EQUAL 0 AND i GREATER_EQUAL first)
        list(APPEND files "${CMAKE_ARGV${i}}")
    elseif("${CMAKE_ARGV${i}}" STREQUAL "-P")
        math(EXPR first "${i} + 2")  # the files come after the script's name
    endif()
endforeach()
if(NOT files)
    message(FATAL_ERROR "SignWindows.cmake: no file to sign")
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(CHMOD ${WORK} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
set(password_file ${WORK}/password)
file(WRITE ${password_file} "$ENV{VELMORA_SIGN_PASSWORD}")

foreach(file ${files})
    execute_process(COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${PKCS12} -readpass ${password_file} -h sha256
                            -n "Velmora Updater" -in ${file} -out ${file}.signed
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        file(REMOVE_RECURSE ${WORK} ${file}.signed)
        message(FATAL_ERROR "osslsigncode could not sign ${file}:\n${output}")
    endif()
    file(RENAME ${file}.signed ${file})
    message(STATUS "signed ${file}")
endforeach()
file(REMOVE_RECURSE ${WORK})
