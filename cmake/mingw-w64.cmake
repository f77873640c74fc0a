# Shared part of the MinGW-w64 cross toolchains. The including file sets
# HIDLIST_MINGW_TRIPLET, CMAKE_SYSTEM_PROCESSOR and HIDLIST_WINE_LOADER_DEFAULT.
#
# The win32 threading variant of Debian's compilers: the program uses no
# threads, and so carries no winpthread.
set(CMAKE_SYSTEM_NAME Windows)

set(HIDLIST_MINGW_THREADS "win32" CACHE STRING "Threading variant of the MinGW-w64 compilers (win32 or posix)")

find_program(CMAKE_C_COMPILER NAMES ${HIDLIST_MINGW_TRIPLET}-gcc-${HIDLIST_MINGW_THREADS} REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${HIDLIST_MINGW_TRIPLET}-g++-${HIDLIST_MINGW_THREADS} REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${HIDLIST_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HIDLIST_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine, through a wrapper that picks this
# loader, keeps Wine headless and quiet, and skips when the loader cannot
# execute on this machine.
set(HIDLIST_WINE_LOADER "${HIDLIST_WINE_LOADER_DEFAULT}" CACHE FILEPATH "Wine loader for the programs of this build")
set(CMAKE_CROSSCOMPILING_EMULATOR "/bin/sh;${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${HIDLIST_WINE_LOADER}")
