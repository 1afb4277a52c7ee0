# The emulated device: scenario texts, request triage, answers and the verdict are pure; the device itself
# runs a thread of its own.
velmora_test(test_emulator_scenario SOURCES test_emulator_scenario.cpp LIBS velmora_emulator)
velmora_test(test_emulator_request SOURCES test_emulator_request.cpp LIBS velmora_emulator)
velmora_test(test_emulator SOURCES test_emulator.cpp LIBS velmora_emulator LABELS threads)
