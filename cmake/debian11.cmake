# The Linux release programs: built by Debian 11's GCC 10 against its glibc
# 2.31 and its libstdc++, so that they need no C library symbol newer than
# glibc 2.17 and run on every distribution since (built against Debian 12's
# glibc and GCC 12, the program needs glibc 2.35). The preset sets
# HIDLIST_RELEASE_TRIPLET (x86_64-linux-gnu, aarch64-linux-gnu or
# arm-linux-gnueabihf); the root is build/debian11, or the folder that
# HIDLIST_RELEASE_ROOT names, made beforehand by cmake/debian11-root.sh.
#
# CMake and the binutils are the build machine's; the compiler, its own
# libraries and the C library come from the root: the root's compiler,
# run from where it lies, finds its parts beside itself, and --sysroot
# gives it the root's headers and libraries.
set(root "${CMAKE_CURRENT_LIST_DIR}/../build/debian11")
if(DEFINED ENV{HIDLIST_RELEASE_ROOT})
  set(root "$ENV{HIDLIST_RELEASE_ROOT}")
endif()
set(HIDLIST_RELEASE_ROOT "${root}" CACHE PATH "The Debian 11 root whose compilers build the release programs")
get_filename_component(HIDLIST_RELEASE_ROOT "${HIDLIST_RELEASE_ROOT}" ABSOLUTE)
if(NOT EXISTS "${HIDLIST_RELEASE_ROOT}/.complete")
  message(FATAL_ERROR "No Debian 11 root in ${HIDLIST_RELEASE_ROOT}. Make it once (as root; "
                      "a few minutes, 2.2 GB): sh cmake/debian11-root.sh ${HIDLIST_RELEASE_ROOT}")
endif()

# The checks CMake compiles while configuring read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HIDLIST_RELEASE_TRIPLET HIDLIST_RELEASE_ROOT)
set(CMAKE_SYSTEM_NAME Linux)
# The processor is the triplet's first word.
if(NOT HIDLIST_RELEASE_TRIPLET MATCHES "^(x86_64|aarch64)-linux-gnu$|^(arm)-linux-gnueabihf$")
  message(FATAL_ERROR "HIDLIST_RELEASE_TRIPLET is \"${HIDLIST_RELEASE_TRIPLET}\": "
                      "x86_64-linux-gnu, aarch64-linux-gnu or arm-linux-gnueabihf")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_MATCH_1}${CMAKE_MATCH_2})
set(CMAKE_CXX_COMPILER "${HIDLIST_RELEASE_ROOT}/usr/bin/${HIDLIST_RELEASE_TRIPLET}-g++-10")
set(CMAKE_SYSROOT "${HIDLIST_RELEASE_ROOT}")
# The build machine's binutils for that processor, whose own may not run
# outside the root: for the compiler, the folder of the cross binutils (for
# x86-64 it has none, and looks on the PATH); for CMake and CPack, by name.
set(CMAKE_CXX_FLAGS_INIT "-B/usr/${HIDLIST_RELEASE_TRIPLET}/bin/")
foreach(tool ar ranlib strip nm objcopy objdump readelf)
  string(TOUPPER ${tool} variable)
  set(CMAKE_${variable} "/usr/bin/${HIDLIST_RELEASE_TRIPLET}-${tool}")
endforeach()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
