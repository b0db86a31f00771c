# The Linux program: GTK 3 + WebKitGTK on X11, around the portable core.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VELLMIR_LINUX REQUIRED IMPORTED_TARGET gtk+-3.0 webkit2gtk-4.1 x11 xi)

set(VELLMIR_ICON_SIZES 16 24 32 48 64 128)

# The icon images go into the binary, so the window has its icon wherever the
# program runs from; the install puts the same files into the hicolor theme.
set(icons_source ${CMAKE_BINARY_DIR}/generated/vellmir_icons.cpp)
set(icons_text "// Generated from app/resources/vellmir-*.png by cmake/linux.cmake.\n")
string(APPEND icons_text "#include \"app/embedded_icons.h\"\n")
set(icons_table "")
foreach(size IN LISTS VELLMIR_ICON_SIZES)
  set(png ${PROJECT_SOURCE_DIR}/app/resources/vellmir-${size}.png)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${png})
  file(READ ${png} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR byte_count "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND icons_text "static const unsigned char icon_${size}[] = {${bytes}};\n")
  string(APPEND icons_table "    {${size}, icon_${size}, ${byte_count}},\n")
endforeach()
string(APPEND icons_text "extern const EmbeddedIcon VELLMIR_ICONS[] = {\n${icons_table}};\n")
string(APPEND icons_text "extern const int VELLMIR_ICON_COUNT = sizeof VELLMIR_ICONS / sizeof VELLMIR_ICONS[0];\n")
file(CONFIGURE OUTPUT ${icons_source} CONTENT "${icons_text}" @ONLY)

# The Linux platform files, apart from the entry point and the icons; the
# tests and the benchmarks reuse them.
set(VELLMIR_LINUX_SOURCES
  ${PROJECT_SOURCE_DIR}/actions/posix_delete_files.cpp
  ${PROJECT_SOURCE_DIR}/actions/webkit_cache.cpp
  ${PROJECT_SOURCE_DIR}/app/gtk_game_view.cpp
  ${PROJECT_SOURCE_DIR}/app/gtk_main_window.cpp
  ${PROJECT_SOURCE_DIR}/app/posix_handshake.cpp
  ${PROJECT_SOURCE_DIR}/hotkeys/glib_poll_timer.cpp
  ${PROJECT_SOURCE_DIR}/hotkeys/portal_shortcuts.cpp
  ${PROJECT_SOURCE_DIR}/hotkeys/x11_key_snapshot.cpp
)
find_package(Threads REQUIRED)
set(VELLMIR_LINUX_LIBRARIES PkgConfig::VELLMIR_LINUX Threads::Threads)

add_executable(vellmir
  ${PROJECT_SOURCE_DIR}/app/gtk_main.cpp
  ${VELLMIR_LINUX_SOURCES}
  ${icons_source}
)
target_link_libraries(vellmir PRIVATE vellmir_core ${VELLMIR_LINUX_LIBRARIES})
set_target_properties(vellmir PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
include(${PROJECT_SOURCE_DIR}/cmake/flash_emulator.cmake)
include(${PROJECT_SOURCE_DIR}/cmake/demo.cmake)

include(GNUInstallDirs)
install(TARGETS vellmir RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/app/resources/vellmir.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size IN LISTS VELLMIR_ICON_SIZES)
  install(FILES ${PROJECT_SOURCE_DIR}/app/resources/vellmir-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vellmir.png)
endforeach()
