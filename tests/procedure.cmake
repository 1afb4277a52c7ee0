velmora_test(test_update_procedure SOURCES test_update_procedure.cpp LIBS velmora_update velmora_emulator
             LABELS threads)
target_include_directories(test_update_procedure PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
