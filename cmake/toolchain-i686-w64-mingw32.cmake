# 32-bit Windows, what ships, with Debian's MinGW-w64 cross compiler
# (g++-mingw-w64-i686). Test executables run under Wine's 32-bit loader.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LAUNCHER_MINGW_TRIPLET i686-w64-mingw32)
set(LAUNCHER_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
