# Install rules for what ships beside the program, and the release packages.
#
# The program itself is installed to bin/ by app/CMakeLists.txt. This file
# adds the manual page and the documents, and sets up CPack:
#   Linux:   hidlist-<version>-Linux.tar.gz and hidlist_<version>_<arch>.deb
#   Windows: hidlist-<version>-win32.zip or hidlist-<version>-win64.zip,
#            holding hidlist.exe, README.md and LICENSE
# Run `cpack` in a build folder to make them (tests/package_test.sh does,
# and checks what they hold).
include_guard(GLOBAL)

set(HIDLIST_PACKAGE_MAINTAINER "the hidlist developers"
    CACHE STRING "The Maintainer field of the Debian package")

if(WIN32)
  # A Windows user unpacks the .zip and finds the program and its documents
  # at the top level, without bin/ or share/. They form the component
  # "hidlist", the only one the .zip is made from; a Windows installation
  # of that layout is `cmake --install <build> --component hidlist`.
  install(TARGETS hidlist RUNTIME DESTINATION . COMPONENT hidlist)
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
          DESTINATION . COMPONENT hidlist)
else()
  include(GNUInstallDirs)
  install(FILES "${PROJECT_SOURCE_DIR}/docs/hidlist.1"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
          DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endif()

# --- CPack --------------------------------------------------------------------
set(CPACK_PACKAGE_NAME "hidlist")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "the hidlist developers")
set(CPACK_PACKAGE_CONTACT "${HIDLIST_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list the HID devices of this machine and wait for Enter")
# Lines of at most 80 characters, as Debian's control files want them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "hidlist is a small console program that lists the HID devices (keyboards,"
  "mice, game pads, security keys, touch pads...) of a machine: for each HID"
  "interface the vendor ID, manufacturer, product ID, product and version"
  "number, or a one-line outcome when the device cannot be opened. Then it"
  "waits for Enter.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
# The packages hold the program without its debugging information.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  # CPack names the system win32 or win64 from the pointer size.
  set(CPACK_GENERATOR "ZIP")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};hidlist;/")
else()
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR "TGZ;DEB")
  else()
    set(CPACK_GENERATOR "TGZ")
  endif()

  # Debian package: hidlist_<version>_<arch>.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  if(CMAKE_CROSSCOMPILING)
    # The target's Debian architecture (arm64, armhf...), from the compiler's
    # triplet: CPack would take the build machine's. dpkg-shlibdeps then
    # needs the target's libraries installed as packages of its architecture
    # (libc6:arm64...); the cross compiler's copies in /usr/<triplet> belong
    # to packages such as libc6-arm64-cross, which no target machine has.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                    OUTPUT_VARIABLE triplet OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND dpkg-architecture -t${triplet} -qDEB_HOST_ARCH ERROR_QUIET
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  find_program(HIDLIST_DPKG_SHLIBDEPS dpkg-shlibdeps)
  mark_as_advanced(HIDLIST_DPKG_SHLIBDEPS)
  if(HIDLIST_DPKG_SHLIBDEPS)
    # Depends with the versions the program was linked against.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()

# `make package_source`: the sources without builds and version control.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.cache/" "/build/")

include(CPack)
