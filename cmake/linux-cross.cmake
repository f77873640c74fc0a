# Shared part of the toolchains for Linux on other processors, with Debian's
# cross compilers (g++-<triplet>) and the target's libraries in /usr/<triplet>.
# The including file sets HIDLIST_CROSS_TRIPLET, CMAKE_SYSTEM_PROCESSOR and
# HIDLIST_QEMU, the user-mode emulator of that processor.
set(CMAKE_SYSTEM_NAME Linux)

# The C compiler too: GoogleTest, built here from source, is a C and C++ project.
find_program(CMAKE_C_COMPILER NAMES ${HIDLIST_CROSS_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${HIDLIST_CROSS_TRIPLET}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${HIDLIST_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under qemu's user-mode emulation (package
# qemu-user), which takes the dynamic loader and the libraries from the same
# folder; nothing is registered with the kernel for them.
find_program(HIDLIST_EMULATOR ${HIDLIST_QEMU})
if(HIDLIST_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${HIDLIST_EMULATOR};-L;/usr/${HIDLIST_CROSS_TRIPLET}")
endif()
