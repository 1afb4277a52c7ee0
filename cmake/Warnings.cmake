# Compiler warnings are errors, for every target of the project.
function(velmora_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                 -Wold-style-cast -Wcast-align -Woverloaded-virtual -Werror)
    endif()
endfunction()
