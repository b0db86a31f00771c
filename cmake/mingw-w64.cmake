# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELLMIR_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VELLMIR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLMIR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLMIR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELLMIR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One self-contained .exe: no libstdc++, libgcc or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables run under Wine.
find_program(VELLMIR_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(VELLMIR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLMIR_WINE})
endif()
