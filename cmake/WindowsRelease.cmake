# The Windows release files, made in the cross build by `cmake --build BUILD --target windows-release`: the
# programs (stripped), README.txt and License.txt gathered in one folder and signed when a certificate is
# given, then the MSI (wixl, from packaging/windows/velmora-updater.wxs) and the portable zip of that folder.
set(VELMORA_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file that signs the Windows programs and the MSI; its password in VELMORA_SIGN_PASSWORD")
find_program(VELMORA_WIXL wixl)
find_program(VELMORA_OSSLSIGNCODE osslsigncode)

set(release_dir ${PROJECT_BINARY_DIR}/windows-release)
set(release_name velmora-updater-${PROJECT_VERSION}-win64)
set(stage ${release_dir}/${release_name})
set(msi ${release_dir}/velmora-updater-${PROJECT_VERSION}-x64.msi)
set(zip ${release_dir}/${release_name}.zip)
set(wxs ${PROJECT_SOURCE_DIR}/packaging/windows/velmora-updater.wxs)
set(programs velmora-updater velmora-updater-demo velmora-flash)
list(TRANSFORM programs REPLACE "(.+)" "$<TARGET_FILE:\\1>" OUTPUT_VARIABLE built)
list(TRANSFORM programs REPLACE "(.+)" "${release_name}/\\1.exe" OUTPUT_VARIABLE staged)

configure_file(packaging/windows/README.txt.in ${release_dir}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(packaging/linux/copyright ${release_dir}/License.txt @ONLY NEWLINE_STYLE CRLF)
# wixl takes only paths relative to the folder it runs in.
configure_file(ui/icons/velmora.ico ${release_dir}/velmora.ico COPYONLY)

set(sign_exes ${CMAKE_COMMAND} -E echo "windows-release: programs not signed (no VELMORA_SIGN_PKCS12)")
set(sign_msi ${CMAKE_COMMAND} -E echo "windows-release: MSI not signed (no VELMORA_SIGN_PKCS12)")
if(VELMORA_SIGN_PKCS12)
    if(NOT VELMORA_OSSLSIGNCODE)
        message(FATAL_ERROR "VELMORA_SIGN_PKCS12 is set but osslsigncode is missing (apt-get install osslsigncode)")
    endif()
    set(sign ${CMAKE_COMMAND} -DOSSLSIGNCODE=${VELMORA_OSSLSIGNCODE} -DPKCS12=${VELMORA_SIGN_PKCS12}
             -DWORK=${release_dir}/signing -P ${PROJECT_SOURCE_DIR}/cmake/SignWindows.cmake)
    set(sign_exes ${sign} ${staged})
    set(sign_msi ${sign} ${msi})
    message(STATUS "Windows release files: signed with ${VELMORA_SIGN_PKCS12}")
else()
    message(STATUS "Windows release files: not signed (no VELMORA_SIGN_PKCS12 given)")
endif()
# Rewritten only when the choice changes, so that choosing a certificate later remakes the files.
file(CONFIGURE OUTPUT ${release_dir}/signing.txt CONTENT "${VELMORA_SIGN_PKCS12}\n")

if(NOT VELMORA_WIXL)
    add_custom_target(windows-release
        COMMAND ${CMAKE_COMMAND} -E echo "windows-release needs wixl (apt-get install wixl)"
        COMMAND ${CMAKE_COMMAND} -E false)
    return()
endif()

add_custom_command(OUTPUT ${msi} ${zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${msi} ${zip}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy ${built} README.txt License.txt ${stage}
    COMMAND ${CMAKE_STRIP} ${staged}
    COMMAND ${sign_exes}
    COMMAND ${VELMORA_WIXL} -a x64 -D Version=${PROJECT_VERSION} -D Stage=${release_name} -D Icon=velmora.ico
            -o ${msi} ${wxs}
    COMMAND ${sign_msi}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${release_name}
    WORKING_DIRECTORY ${release_dir}
    DEPENDS ${programs} ${wxs} ${release_dir}/README.txt ${release_dir}/License.txt ${release_dir}/velmora.ico
            ${release_dir}/signing.txt ${VELMORA_SIGN_PKCS12}
    COMMENT "Windows release files: ${msi} and ${zip}"
    VERBATIM)
add_custom_target(windows-release DEPENDS ${msi} ${zip})
