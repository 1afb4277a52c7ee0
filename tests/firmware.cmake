# The embedded images and the stand-in generator. The prefix keeps the names unique in the project and lets
# `ctest -R firmware` select them.
velmora_test(test_firmware SOURCES test_firmware.cpp ${PROJECT_SOURCE_DIR}/firmware/StandInImages.cpp
             LIBS velmora_firmware PREFIX "firmware.")
target_include_directories(test_firmware PRIVATE ${PROJECT_BINARY_DIR}/firmware/generated)
