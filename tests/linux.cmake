# End-to-end tests of the Linux program: the real binary under Xvfb, driven by
# Python (standard library only) through tests/e2e/harness.py.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Preloaded by the start-up test to see the order of the program's calls. It
# is plain C without sanitizers: it must load before everything else.
add_library(vellmir_launch_probe MODULE e2e/launch_probe.c)
set_property(TARGET vellmir_launch_probe PROPERTY COMPILE_OPTIONS -Wall -Wextra)
set_property(TARGET vellmir_launch_probe PROPERTY LINK_OPTIONS "")
target_link_libraries(vellmir_launch_probe PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(vellmir_launch_probe vellmir)

set(VELLMIR_E2E_TESTS window hotkeys cache handshake lifecycle)
foreach(name IN LISTS VELLMIR_E2E_TESTS)
  add_test(NAME e2e.${name}
           COMMAND Python3::Interpreter -B -m unittest -v test_${name}
           WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  set_tests_properties(e2e.${name} PROPERTIES
    LABELS e2e
    TIMEOUT 600
    # One X server and one browser at a time: the machine is small, and the
    # handshake's shared-memory name is machine-wide.
    RESOURCE_LOCK vellmir_e2e
    ENVIRONMENT "VELLMIR_BINARY=$<TARGET_FILE:vellmir>;VELLMIR_LAUNCH_PROBE=$<TARGET_FILE:vellmir_launch_probe>;VELLMIR_GAME_HOST=${VELLMIR_GAME_HOST};ASAN_OPTIONS=detect_leaks=0")
endforeach()
