# The receive path: input port and its queue, the poll timer, reply processing.
velmora_test(test_midi_in_port SOURCES test_midi_in_port.cpp LIBS velmora_midi_loopback LABELS threads)
velmora_test(test_timer SOURCES test_timer.cpp LIBS velmora_midi LABELS threads)
velmora_test(test_replies SOURCES test_replies.cpp LIBS velmora_update velmora_midi_loopback LABELS threads)
