# VELMORA_SANITIZE applies to everything built, tests included; the first error ends the run.
if(VELMORA_SANITIZE)
    if(MSVC)
        message(FATAL_ERROR "VELMORA_SANITIZE is for GCC and Clang")
    endif()
    add_compile_options(-fsanitize=${VELMORA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all -g)
    add_link_options(-fsanitize=${VELMORA_SANITIZE})
endif()
