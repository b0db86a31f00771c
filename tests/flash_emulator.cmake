# End-to-end test of Flash content played by the bundled emulator (Linux,
# built with VELLMIR_FLASH_EMULATOR). Same runner as the other e2e tests.
if(TARGET vellmir AND VELLMIR_FLASH_EMULATOR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME e2e.flash_emulator
           COMMAND Python3::Interpreter -B -m unittest -v test_flash_emulator
           WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  set_tests_properties(e2e.flash_emulator PROPERTIES
    LABELS e2e
    TIMEOUT 600
    RESOURCE_LOCK vellmir_e2e
    ENVIRONMENT "VELLMIR_BINARY=$<TARGET_FILE:vellmir>;VELLMIR_GAME_HOST=${VELLMIR_GAME_HOST};ASAN_OPTIONS=detect_leaks=0")
endif()
