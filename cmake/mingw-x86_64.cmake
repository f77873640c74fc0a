# 64-bit Windows with Debian's MinGW-w64; the programs run under the amd64
# Wine loader.
set(HIDLIST_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(HIDLIST_WINE_LOADER_DEFAULT /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
