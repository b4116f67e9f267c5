# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and std::mutex need). Used by tools/build-windows.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELVOR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELVOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELVOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELVOR_MINGW_TRIPLET}-windres)

# Target libraries come from MinGW's tree (the image codecs are named by ZELVOR_WINDOWS_DEPS);
# programs (python3, juceaide, the host compilers) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZELVOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Test executables run under Wine (Debian's wine64 has no launcher on PATH).
find_program(ZELVOR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ZELVOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVOR_WINE})
endif()
