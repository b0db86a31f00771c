# End-to-end tests of the Linux program: the real binary under Xvfb, driven by
# Python (standard library only) through tests/e2e/harness.py.

# Preloaded by the start-up test to see the order of the program's calls. It
# is plain C without sanitizers: it must load before everything else.
add_library(vellmir_launch_probe MODULE e2e/launch_probe.c)
set_property(TARGET vellmir_launch_probe PROPERTY COMPILE_OPTIONS -Wall -Wextra)
set_property(TARGET vellmir_launch_probe PROPERTY LINK_OPTIONS "")
target_link_libraries(vellmir_launch_probe PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(vellmir_launch_probe vellmir)

set(linux_e2e_environment
  "VELLMIR_BINARY=$<TARGET_FILE:vellmir>"
  "VELLMIR_LAUNCH_PROBE=$<TARGET_FILE:vellmir_launch_probe>"
  "ASAN_OPTIONS=detect_leaks=0")

foreach(name window hotkeys cache handshake lifecycle offline)
  vellmir_add_e2e_test(${name} test_${name} ENVIRONMENT ${linux_e2e_environment})
endforeach()

# A Wayland session's global shortcuts: the real portal frontend on a private
# bus, with a backend of the test's own (Debian's python3 with python3-gi).
vellmir_add_e2e_test(portal_shortcuts test_portal_shortcuts ENVIRONMENT ${linux_e2e_environment})
# The same with a desktop's real backend: Debian's KDE portal backend and
# kglobalaccel5 on the test's X server.
vellmir_add_e2e_test(portal_kde test_portal_kde ENVIRONMENT ${linux_e2e_environment})
# The same in a real Wayland session: sway (headless) with XWayland, run as an
# unprivileged user, a native window with the focus, keys from wtype.
vellmir_add_e2e_test(wayland_session test_wayland_session ENVIRONMENT ${linux_e2e_environment})

# Flash content played by the bundled emulator.
if(VELLMIR_FLASH_EMULATOR)
  vellmir_add_e2e_test(flash_emulator test_flash_emulator ENVIRONMENT ${linux_e2e_environment})
  # The demo game; skipped where Haxe did not build it.
  vellmir_add_e2e_test(demo_game test_demo_game TIMEOUT 900
                       ENVIRONMENT ${linux_e2e_environment} "VELLMIR_DEMO_MOVIE=${VELLMIR_DEMO_MOVIE}")
endif()

# F1 pressed over and over while the window closes, 50 runs of the real
# program: exit status 0 every time.
vellmir_add_e2e_test(hostile_f1_close hostile_f1_close LABELS hostile e2e
                     ENVIRONMENT ${linux_e2e_environment})
