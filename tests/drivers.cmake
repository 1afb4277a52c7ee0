# MIDI drivers: the stream driver over a pty, the reader and writer it shares with ALSA, and the parts of the
# ALSA driver that run without sound hardware.
if(TARGET velmora_midi_stream)
    velmora_test(test_stream_driver SOURCES test_stream_driver.cpp LIBS velmora_midi_stream velmora_midi_loopback
                 LABELS threads)
    velmora_test(test_pty_update SOURCES test_pty_update.cpp
                 LIBS velmora_midi_stream velmora_update velmora_emulator LABELS threads)
    velmora_test(test_stream_raw SOURCES test_stream_raw.cpp LIBS velmora_midi_stream LABELS threads)
endif()
if(TARGET velmora_midi_alsa)
    velmora_test(test_alsa_driver SOURCES test_alsa_driver.cpp LIBS velmora_midi_platform)
endif()

# The ALSA driver's own source linked against tests/fakes/alsa instead of alsa-lib, and whole updates through it.
if(TARGET velmora_midi_alsa)
    find_package(ALSA REQUIRED)
    add_library(velmora_fake_alsa STATIC fakes/alsa/FakeAlsa.cpp)
    target_include_directories(velmora_fake_alsa PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${ALSA_INCLUDE_DIRS})
    target_link_libraries(velmora_fake_alsa PUBLIC Threads::Threads)
    velmora_warnings(velmora_fake_alsa)
    add_library(velmora_midi_alsa_on_fake STATIC ${PROJECT_SOURCE_DIR}/midi/drivers/alsa/AlsaDriver.cpp)
    target_link_libraries(velmora_midi_alsa_on_fake PUBLIC velmora_midi velmora_midi_stream velmora_fake_alsa)
    velmora_warnings(velmora_midi_alsa_on_fake)
    velmora_test(test_alsa_update SOURCES test_alsa_update.cpp
                 LIBS velmora_midi_alsa_on_fake velmora_update velmora_emulator LABELS threads)
endif()

# The WinMM driver's own source linked against tests/fakes/winmm instead of winmm (run under Wine).
if(TARGET velmora_midi_winmm)
    add_library(velmora_midi_winmm_on_fake STATIC ${PROJECT_SOURCE_DIR}/midi/drivers/winmm/WinMmDriver.cpp
                                                  fakes/winmm/FakeWinMm.cpp)
    # _WINMM_ declares the multimedia calls as this program's own rather than imported from winmm.dll.
    target_compile_definitions(velmora_midi_winmm_on_fake PRIVATE UNICODE _UNICODE _WINMM_)
    target_include_directories(velmora_midi_winmm_on_fake PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(velmora_midi_winmm_on_fake PUBLIC velmora_midi)
    velmora_warnings(velmora_midi_winmm_on_fake)
    velmora_test(test_winmm_update SOURCES test_winmm_update.cpp
                 LIBS velmora_midi_winmm_on_fake velmora_update velmora_emulator LABELS threads)
endif()
