# Hostile-input and race tests. Included from tests/CMakeLists.txt on Linux:
#   include(${CMAKE_CURRENT_SOURCE_DIR}/hostile.cmake)
# Label "hostile" for all of them; "threads" for those the ThreadSanitizer
# preset runs; "fuzz" for the libFuzzer run of the clang preset.

find_package(Threads REQUIRED)

# F2's walk over hostile trees, and several walks at once.
add_executable(hostile_delete_files_tests
  ${CMAKE_CURRENT_LIST_DIR}/hostile_delete_files_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../actions/posix_delete_files.cpp
)
target_link_libraries(hostile_delete_files_tests PRIVATE vellmir_core GTest::gtest_main Threads::Threads)
gtest_discover_tests(hostile_delete_files_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS "hostile;threads" TIMEOUT 180)

# The handshake's shared-memory object in every size and kind another process
# could leave under the name.
add_executable(hostile_handshake_tests
  ${CMAKE_CURRENT_LIST_DIR}/hostile_handshake_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../app/posix_handshake.cpp
)
target_link_libraries(hostile_handshake_tests PRIVATE vellmir_core GTest::gtest_main)
gtest_discover_tests(hostile_handshake_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS hostile TIMEOUT 60)
