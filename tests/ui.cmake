# Tests of the application shell: the Qt-free piece under the dialogs, the instance lock (also across real
# processes) and the dialogs themselves (Qt Test on the offscreen platform).
velmora_test(test_ui_call_gate SOURCES test_ui_call_gate.cpp LIBS velmora_ui_logic LABELS threads)
velmora_test(test_dialog_controller SOURCES test_dialog_controller.cpp LIBS velmora_ui_logic velmora_midi_loopback
             LABELS threads)
if(NOT WIN32)
    velmora_test(test_app_lock SOURCES test_app_lock.cpp LIBS velmora_instance_lock)
endif()

if(NOT VELMORA_UI OR NOT TARGET velmora_ui)
    return()
endif()

find_package(Qt6 REQUIRED COMPONENTS Test Widgets)

# A Qt Test executable run once by ctest on the offscreen platform.
function(velmora_qt_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test Qt6::Widgets)
    velmora_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endfunction()

velmora_qt_test(test_ui_dialog SOURCES test_ui_dialog.cpp LIBS velmora_ui velmora_emulator)

if(NOT WIN32)
    # A copy of the application shell that reports its instance number instead of opening the dialog.
    add_executable(test_app_probe test_app_probe.cpp)
    target_link_libraries(test_app_probe PRIVATE velmora_app)
    velmora_warnings(test_app_probe)

    velmora_test(test_app_instances SOURCES test_app_instances.cpp LIBS velmora_instance_lock)
    add_dependencies(test_app_instances test_app_probe velmora-updater-demo)
    target_compile_definitions(test_app_instances PRIVATE VELMORA_PROBE="$<TARGET_FILE:test_app_probe>"
                                                          VELMORA_DEMO="$<TARGET_FILE:velmora-updater-demo>")
endif()
