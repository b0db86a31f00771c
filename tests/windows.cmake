# Windows tests: unit tests of the Win32 platform files, run as .exe under
# Wine when cross-built, and the end-to-end tests of vellmir.exe under Wine
# and Xvfb.

# Under Wine they run in the build tree's own prefix (vellmir_add_gtest), so
# the URL-cache test never touches a developer's own prefix.
add_executable(win32_browser_cache_tests
  win32_browser_cache_test.cpp
  ${PROJECT_SOURCE_DIR}/actions/win32_browser_cache.cpp
)
target_link_libraries(win32_browser_cache_tests PRIVATE GTest::gtest_main wininet shell32)
target_include_directories(win32_browser_cache_tests PRIVATE ${PROJECT_SOURCE_DIR})

add_executable(win32_delete_files_tests
  win32_delete_files_test.cpp
  ${PROJECT_SOURCE_DIR}/actions/win32_delete_files.cpp
)
target_link_libraries(win32_delete_files_tests PRIVATE GTest::gtest_main)
target_include_directories(win32_delete_files_tests PRIVATE ${PROJECT_SOURCE_DIR})

add_executable(win32_platform_tests
  win32_platform_test.cpp
  ${VELLMIR_WIN32_SOURCES}
)
target_link_libraries(win32_platform_tests PRIVATE vellmir_core GTest::gtest_main
  ${VELLMIR_WIN32_LIBRARIES})

foreach(test_program win32_browser_cache_tests win32_delete_files_tests win32_platform_tests)
  target_compile_definitions(${test_program} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  vellmir_add_gtest(${test_program})
endforeach()

# Helpers of the end-to-end tests.
add_executable(win32_handshake_peer win32_handshake_peer.cpp)
add_executable(win32_cache_probe win32_cache_probe.cpp)
target_link_libraries(win32_cache_probe PRIVATE wininet shell32)
add_executable(win32_navigate_probe win32_navigate_probe.cpp ${VELLMIR_WIN32_SOURCES}
  ${PROJECT_SOURCE_DIR}/app/resources/vellmir.rc)
target_link_libraries(win32_navigate_probe PRIVATE vellmir_core ${VELLMIR_WIN32_LIBRARIES})
foreach(helper win32_handshake_peer win32_cache_probe win32_navigate_probe)
  target_include_directories(${helper} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${helper} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()

# End-to-end: vellmir.exe under Wine and Xvfb, through tests/e2e/harness.py.
find_program(VELLMIR_XVFB Xvfb)
if(CMAKE_CROSSCOMPILING AND VELLMIR_WINE AND VELLMIR_XVFB)
  vellmir_add_e2e_test(wine wine_test_vellmir TIMEOUT 1200 ENVIRONMENT
    "VELLMIR_EXE=$<TARGET_FILE:vellmir>"
    "VELLMIR_WINE=${VELLMIR_WINE}"
    "VELLMIR_HANDSHAKE_PEER=$<TARGET_FILE:win32_handshake_peer>"
    "VELLMIR_CACHE_PROBE=$<TARGET_FILE:win32_cache_probe>"
    "VELLMIR_NAVIGATE_PROBE=$<TARGET_FILE:win32_navigate_probe>"
    "VELLMIR_PLATFORM_TESTS=$<TARGET_FILE:win32_platform_tests>")
endif()
