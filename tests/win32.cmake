# The Windows dialog, run for real. It opens windows, so .ci/wine-tests (no display) leaves it out and
# .ci/wine-gui runs it under Xvfb.
if(WIN32)
    velmora_test(test_win32_dialog SOURCES test_win32_dialog.cpp LIBS velmora_ui_win32 velmora_midi_loopback
                 LABELS "wine-skip;wine-gui")
endif()
