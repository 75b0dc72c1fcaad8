# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads), the
# runtime linked in statically so that an .exe needs no DLL beside it. Programs
# built here run under wine, which ctest uses to run the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# wine in a prefix of the build's own, quiet, without the Mono and Gecko prompts,
# and without winemenubuilder, which would copy the Start-menu entries a test
# installs into the host's own menus.
# PX_WINE_SETTINGS serves every prefix the tests use.
find_program(PX_WINE NAMES wine64 wine)
set(PX_WINE_SETTINGS WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix ${PX_WINE_SETTINGS} ${PX_WINE})
