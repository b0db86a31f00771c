# Vellmir for Windows: one GUI executable, linked statically under MinGW
# (system DLLs only), built from the portable core and the Win32 files below.

# The Win32 platform files, apart from the entry point; the tests reuse them.
set(VELLMIR_WIN32_SOURCES
  ${PROJECT_SOURCE_DIR}/actions/win32_browser_cache.cpp
  ${PROJECT_SOURCE_DIR}/actions/win32_delete_files.cpp
  ${PROJECT_SOURCE_DIR}/app/win32_game_view.cpp
  ${PROJECT_SOURCE_DIR}/app/win32_handshake.cpp
  ${PROJECT_SOURCE_DIR}/app/win32_main_window.cpp
  ${PROJECT_SOURCE_DIR}/hotkeys/win32_key_snapshot.cpp
  ${PROJECT_SOURCE_DIR}/hotkeys/win32_poll_timer.cpp
)
set(VELLMIR_WIN32_LIBRARIES ole32 oleaut32 uuid wininet shell32 user32 gdi32 kernel32)

add_executable(vellmir WIN32
  ${PROJECT_SOURCE_DIR}/app/win32_main.cpp
  ${VELLMIR_WIN32_SOURCES}
  ${PROJECT_SOURCE_DIR}/app/resources/vellmir.rc
)
target_link_libraries(vellmir PRIVATE vellmir_core ${VELLMIR_WIN32_LIBRARIES})
target_compile_definitions(vellmir PRIVATE
  WIN32_LEAN_AND_MEAN NOMINMAX
  VELLMIR_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  VELLMIR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  VELLMIR_VERSION_PATCH=${PROJECT_VERSION_PATCH}
)
set_target_properties(vellmir PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(MSVC)
  # The manifest comes from the resource file.
  target_link_options(vellmir PRIVATE /MANIFEST:NO)
  set_property(TARGET vellmir vellmir_core PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()
