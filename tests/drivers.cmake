# MIDI drivers: the stream driver over a pty, the reader and writer it shares with ALSA, and the parts of the
# ALSA driver that run without sound hardware.
if(TARGET velmora_midi_stream)
    velmora_test(test_stream_driver SOURCES test_stream_driver.cpp LIBS velmora_midi_stream velmora_midi_loopback
                 LABELS threads)
    target_include_directories(test_stream_driver PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    velmora_test(test_pty_update SOURCES test_pty_update.cpp
                 LIBS velmora_midi_stream velmora_update velmora_emulator LABELS threads)
    target_include_directories(test_pty_update PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    velmora_test(test_stream_raw SOURCES test_stream_raw.cpp LIBS velmora_midi_stream LABELS threads)
    target_include_directories(test_stream_raw PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
endif()
if(TARGET velmora_midi_alsa)
    velmora_test(test_alsa_driver SOURCES test_alsa_driver.cpp LIBS velmora_midi_platform)
endif()
