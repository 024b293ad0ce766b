# 64-bit Windows with Debian's MinGW-w64 cross compiler (g++-mingw-w64-x86-64):
# the same sources as the shipped 32-bit build, run natively and fast under
# wine64, so that every end-to-end scenario runs on Windows in each CI run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LAUNCHER_MINGW_TRIPLET x86_64-w64-mingw32)
set(LAUNCHER_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
