# Hostile-input and race tests. Included from tests/CMakeLists.txt on Linux:
#   include(${CMAKE_CURRENT_SOURCE_DIR}/hostile.cmake)
# Labels: "threads" for the tests that the ThreadSanitizer preset runs, "hostile"
# for the rest, "fuzz" for the libFuzzer run of the clang preset. (One label per
# gtest_discover_tests call: a list there would swallow the properties after it.)

find_package(Threads REQUIRED)

# F2's walk over hostile trees, and several walks at once.
add_executable(hostile_delete_files_tests
  ${CMAKE_CURRENT_LIST_DIR}/hostile_delete_files_test.cpp
  ${PROJECT_SOURCE_DIR}/actions/posix_delete_files.cpp
)
target_link_libraries(hostile_delete_files_tests PRIVATE vellmir_core GTest::gtest_main Threads::Threads)
gtest_discover_tests(hostile_delete_files_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS threads TIMEOUT 180)

# The handshake's shared-memory object in every size and kind another process
# could leave under the name.
add_executable(hostile_handshake_tests
  ${CMAKE_CURRENT_LIST_DIR}/hostile_handshake_test.cpp
  ${PROJECT_SOURCE_DIR}/app/posix_handshake.cpp
)
target_link_libraries(hostile_handshake_tests PRIVATE vellmir_core GTest::gtest_main)
gtest_discover_tests(hostile_handshake_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS hostile TIMEOUT 60)

# The Linux hand-offs from action threads to the main loop, on a private Xvfb:
# many threads at once, while the loop runs and while the window closes. The
# ThreadSanitizer preset builds and runs this one (label "threads").
if(VELLMIR_LINUX_SOURCES)
  add_executable(hostile_threads_tests
    ${CMAKE_CURRENT_LIST_DIR}/hostile_threads_test.cpp
    ${VELLMIR_LINUX_SOURCES}
  )
  target_link_libraries(hostile_threads_tests PRIVATE vellmir_core GTest::gtest ${VELLMIR_LINUX_LIBRARIES}
                        ${CMAKE_DL_LIBS})
  gtest_discover_tests(hostile_threads_tests DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS threads TIMEOUT 300 RESOURCE_LOCK vellmir_e2e
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
endif()

# The fuzzer: register_hotkey and poll_hotkeys against the reference model.
# Only in the `fuzz` preset (clang, libFuzzer); it compiles the two core
# files itself so that they carry the fuzzer's coverage instrumentation.
if(VELLMIR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELLMIR_FUZZ needs clang (libFuzzer); use the fuzz preset")
  endif()
  set(fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  add_executable(hotkey_fuzzer
    ${CMAKE_CURRENT_LIST_DIR}/fuzz/hotkey_fuzz.cpp
    ${PROJECT_SOURCE_DIR}/hotkeys/hotkey_poller.cpp
    ${PROJECT_SOURCE_DIR}/hotkeys/hotkey_table.cpp
  )
  target_include_directories(hotkey_fuzzer PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(hotkey_fuzzer PRIVATE ${fuzz_flags})
  target_link_options(hotkey_fuzzer PRIVATE ${fuzz_flags})
  # Bounded: 30 s of fuzzing from an empty corpus; a crash leaves its input
  # in the build folder as fuzz-crash-*.
  set(VELLMIR_FUZZ_SECONDS 30 CACHE STRING "How long the fuzz test runs")
  add_test(NAME fuzz.hotkeys
           COMMAND hotkey_fuzzer -max_total_time=${VELLMIR_FUZZ_SECONDS} -max_len=512
                   -print_final_stats=1 -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz-)
  set_tests_properties(fuzz.hotkeys PROPERTIES LABELS "hostile;fuzz"
                       TIMEOUT 300)
endif()
