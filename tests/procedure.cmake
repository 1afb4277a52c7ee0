velmora_test(test_update_procedure SOURCES test_update_procedure.cpp LIBS velmora_update velmora_emulator
             LABELS threads)

# Not labelled threads: the sweeps repeat what the procedure tests cover under ThreadSanitizer, hundreds of times.
# Under Wine they would take half the stage's time for no Windows code of their own.
velmora_test(test_fault_sweep SOURCES test_fault_sweep.cpp LIBS velmora_update velmora_emulator LABELS wine-skip)

velmora_test(test_progress_meter SOURCES test_progress_meter.cpp LIBS velmora_update)

velmora_test(test_standin_guard SOURCES test_standin_guard.cpp LIBS velmora_update velmora_midi_loopback
             LABELS threads)
