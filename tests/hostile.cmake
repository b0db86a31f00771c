# Hostile-input and race tests. Included from tests/CMakeLists.txt on Linux:
#   include(${CMAKE_CURRENT_SOURCE_DIR}/hostile.cmake)
# Labels: "threads" for the tests that the ThreadSanitizer preset runs, "hostile"
# for the rest, "fuzz" for the libFuzzer run of the clang preset. (One label per
# gtest_discover_tests call: a list there would swallow the properties after it.)

find_package(Threads REQUIRED)

# F2's walk over hostile trees, and several walks at once.
add_executable(hostile_delete_files_tests
  ${CMAKE_CURRENT_LIST_DIR}/hostile_delete_files_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../actions/posix_delete_files.cpp
)
target_link_libraries(hostile_delete_files_tests PRIVATE vellmir_core GTest::gtest_main Threads::Threads)
gtest_discover_tests(hostile_delete_files_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS threads TIMEOUT 180)

# The handshake's shared-memory object in every size and kind another process
# could leave under the name.
add_executable(hostile_handshake_tests
  ${CMAKE_CURRENT_LIST_DIR}/hostile_handshake_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../app/posix_handshake.cpp
)
target_link_libraries(hostile_handshake_tests PRIVATE vellmir_core GTest::gtest_main)
gtest_discover_tests(hostile_handshake_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS hostile TIMEOUT 60)

# The Linux hand-offs from action threads to the main loop, on a private Xvfb:
# many threads at once, while the loop runs and while the window closes. The
# ThreadSanitizer preset builds and runs this one (label "threads").
find_package(PkgConfig)
if(PkgConfig_FOUND)
  pkg_check_modules(HOSTILE_GTK IMPORTED_TARGET gtk+-3.0 webkit2gtk-4.1 x11 xi)
endif()
if(HOSTILE_GTK_FOUND)
  add_executable(hostile_threads_tests
    ${CMAKE_CURRENT_LIST_DIR}/hostile_threads_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../actions/posix_delete_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../actions/webkit_cache.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../app/gtk_main_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../hotkeys/glib_poll_timer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../hotkeys/x11_key_snapshot.cpp
  )
  target_link_libraries(hostile_threads_tests PRIVATE vellmir_core GTest::gtest PkgConfig::HOSTILE_GTK ${CMAKE_DL_LIBS}
                        Threads::Threads)
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
    ${CMAKE_CURRENT_LIST_DIR}/../hotkeys/hotkey_poller.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../hotkeys/hotkey_table.cpp
  )
  target_include_directories(hotkey_fuzzer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
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

# F1 pressed over and over while the window closes, 50 runs of the real
# program under Xvfb: exit status 0 every time.
if(TARGET vellmir)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    add_test(NAME e2e.hostile_f1_close
             COMMAND Python3::Interpreter -B -m unittest -v hostile_f1_close
             WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/e2e)
    set_tests_properties(e2e.hostile_f1_close PROPERTIES
      LABELS "hostile;e2e"
      TIMEOUT 600
      RESOURCE_LOCK vellmir_e2e
      ENVIRONMENT "VELLMIR_BINARY=$<TARGET_FILE:vellmir>;VELLMIR_GAME_HOST=${VELLMIR_GAME_HOST};ASAN_OPTIONS=detect_leaks=0")
  endif()
endif()
