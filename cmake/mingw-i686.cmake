# 32-bit Windows with Debian's MinGW-w64; the programs run under the i386
# Wine loader.
set(HIDLIST_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(HIDLIST_WINE_LOADER_DEFAULT /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
