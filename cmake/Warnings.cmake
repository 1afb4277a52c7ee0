# Compiler warnings are errors, for every target of the project.
function(velmora_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                 -Wold-style-cast -Wcast-align -Woverloaded-virtual -Werror)
    endif()
endfunction()

# A library of the project: add_library's arguments, the tree's root on the include path of whoever uses it
# (#include "midi/MidiDriver.h"), and warnings as errors.
function(velmora_library name)
    add_library(${name} ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    velmora_warnings(${name})
endfunction()
