# Install rules for what ships beside the program, and the release packages.
#
# The program itself is installed to bin/ by app/CMakeLists.txt. This file
# adds the manual page and the documents, and sets up CPack. Each package's
# name says its system and machine, so that a release's packages can lie
# side by side:
#   Linux:   hidlist-<version>-linux-<arch>.tar.gz, hidlist_<version>_<arch>.deb
#            (Debian's names: amd64, arm64, armhf) and
#            hidlist-<version>-1.<rpm arch>.rpm (x86_64, aarch64, armv7hl)
#   Windows: hidlist-<version>-win32.zip or hidlist-<version>-win64.zip,
#            holding hidlist.exe, README.md and LICENSE
# Run `cpack` in a build folder to make them (tests/package_test.sh does,
# twice, and checks that they are the same bytes and what each holds).
#
# On Linux the documents follow Debian's rules, for the .deb and for any
# other installation: the manual page and the changelog compressed with
# `gzip -9n` (no name, no time stamp: the same bytes on every build), and the
# copyright in Debian's machine-readable format. packaging/ holds the
# copyright and the changelog; the changelog's top entry names the version
# being released.
include_guard(GLOBAL)

# The project's own name and address, as in its commits and changelog. A
# distributor building the .deb for others puts their own here.
set(HIDLIST_PACKAGE_MAINTAINER "hidlist developers <dev@hidlist.invalid>"
    CACHE STRING "The Maintainer field of the Debian package: Name <address>")
if(NOT HIDLIST_PACKAGE_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$")
  message(WARNING "HIDLIST_PACKAGE_MAINTAINER is \"${HIDLIST_PACKAGE_MAINTAINER}\","
                  " not \"Name <address>\" as a .deb's Maintainer field must be")
endif()

if(HIDLIST_PLATFORM STREQUAL "win32")
  # A Windows user unpacks the .zip and finds the program and its documents
  # at the top level, without bin/ or share/. They form the component
  # "hidlist", the only one the .zip is made from; a Windows installation
  # of that layout is `cmake --install <build> --component hidlist`.
  install(TARGETS hidlist RUNTIME DESTINATION . COMPONENT hidlist)
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
          DESTINATION . COMPONENT hidlist)
else()
  include(GNUInstallDirs)
  find_program(HIDLIST_GZIP gzip REQUIRED)
  mark_as_advanced(HIDLIST_GZIP)
  # Compressed when configuring, and again whenever the source changes.
  function(hidlist_gzip source output)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
    execute_process(COMMAND "${HIDLIST_GZIP}" -9nc "${source}"
                    OUTPUT_FILE "${output}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "gzip -9nc ${source}: ${result}")
    endif()
  endfunction()
  hidlist_gzip("${PROJECT_SOURCE_DIR}/docs/hidlist.1" "${PROJECT_BINARY_DIR}/hidlist.1.gz")
  hidlist_gzip("${PROJECT_SOURCE_DIR}/packaging/changelog" "${PROJECT_BINARY_DIR}/changelog.gz")
  install(FILES "${PROJECT_BINARY_DIR}/hidlist.1.gz"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
                "${PROJECT_SOURCE_DIR}/packaging/copyright" "${PROJECT_BINARY_DIR}/changelog.gz"
          DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endif()

# --- The packages' date ------------------------------------------------------
# Every time a package records (file times, the .deb's members, the time
# stamp of a Windows program's header) is one date: SOURCE_DATE_EPOCH when
# the packager sets it, when configuring or when running cpack; otherwise the
# date of the changelog's top entry, which a source tarball has too. So two
# builds of one source give the same bytes, whenever and wherever they run.

# The seconds since 1970 (UTC) of the date at the end of the changelog's
# first trailer line: " -- Name <address>  Sun, 06 Dec 2026 19:40:21 +0000".
function(hidlist_changelog_date changelog out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${changelog}")
  file(STRINGS "${changelog}" trailer REGEX "^ -- " LIMIT_COUNT 1)
  set(date_regex " ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([-+])([0-9][0-9])([0-9][0-9])$")
  if(NOT trailer MATCHES "${date_regex}")
    message(FATAL_ERROR "${changelog}: no date at the end of the top entry's trailer line")
  endif()
  set(day ${CMAKE_MATCH_1})
  set(year ${CMAKE_MATCH_3})
  set(seconds ${CMAKE_MATCH_6})
  # The time of day in UTC: the zone's offset, (+1) or (-1) times its
  # hours and minutes, taken away.
  math(EXPR minutes "${CMAKE_MATCH_4} * 60 + ${CMAKE_MATCH_5}
                     - (${CMAKE_MATCH_7}1) * (${CMAKE_MATCH_8} * 60 + ${CMAKE_MATCH_9})")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND months "${CMAKE_MATCH_2}" month)
  # Days since 1970-01-01, counted in years that start in March so that the
  # leap day is a year's last.
  if(month LESS 2)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 10")
  else()
    math(EXPR month "${month} - 2")
  endif()
  math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400
                  + (153 * ${month} + 2) / 5 + ${day} - 1 - 719468")
  math(EXPR date "(${days} * 1440 + ${minutes}) * 60 + ${seconds}")
  set(${out} ${date} PARENT_SCOPE)
endfunction()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CPACK_HIDLIST_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  hidlist_changelog_date("${PROJECT_SOURCE_DIR}/packaging/changelog" CPACK_HIDLIST_SOURCE_DATE_EPOCH)
endif()

# --- CPack --------------------------------------------------------------------
set(CPACK_PACKAGE_NAME "hidlist")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "the hidlist developers")
set(CPACK_PACKAGE_CONTACT "${HIDLIST_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "List the HID devices of this machine and wait for Enter")
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
# The same bytes from every build of one source: one date for everything
# (above), archive entries in name order, no trace of the umask.
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/CPackFolderModes.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/CPackReproducible.cmake")

if(HIDLIST_PLATFORM STREQUAL "win32")
  # CPack names the system win32 or win64 from the pointer size.
  set(CPACK_GENERATOR "ZIP")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};hidlist;/")
else()
  # The .deb's Depends come from dpkg-shlibdeps (package dpkg-dev), which
  # reads the libraries the program was linked against, whether libstdc++
  # and libgcc are among them or linked in. Without it no .deb is made
  # rather than one whose Depends are guessed. The .rpm's Requires come
  # from rpmbuild (package rpm) reading the program likewise.
  set(CPACK_GENERATOR "TGZ")
  find_program(HIDLIST_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(HIDLIST_RPMBUILD rpmbuild)
  mark_as_advanced(HIDLIST_DPKG_SHLIBDEPS HIDLIST_RPMBUILD)
  if(HIDLIST_DPKG_SHLIBDEPS)
    list(APPEND CPACK_GENERATOR "DEB")
  else()
    message(STATUS "dpkg-shlibdeps not found (package dpkg-dev): cpack makes no .deb")
  endif()
  if(HIDLIST_RPMBUILD)
    list(APPEND CPACK_GENERATOR "RPM")
  else()
    message(STATUS "rpmbuild not found (package rpm): cpack makes no .rpm")
  endif()

  # The target's machine, in Debian's and in RPM's words, from the
  # compiler's triplet: CPack would name the build machine's. Another
  # processor goes by the triplet's first word.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                  OUTPUT_VARIABLE triplet OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX MATCH "^[^-]*" deb_arch "${triplet}")
  set(rpm_arch ${deb_arch})
  if(triplet MATCHES "^x86_64-")
    set(deb_arch amd64)
  elseif(triplet MATCHES "^aarch64-")
    set(deb_arch arm64)
  elseif(triplet MATCHES "^arm.*-gnueabihf$")
    set(deb_arch armhf)
    set(rpm_arch armv7hl)
  endif()
  # Packages with the shared C++ runtime need the libstdc++ of the system
  # they were built on: their names say so, so that they are never taken
  # for (or published over) the release packages of the same machine. An
  # RPM says it in its release, as a Fedora package names its system there
  # (1.fc39).
  set(variant "")
  set(CPACK_RPM_PACKAGE_RELEASE 1)
  if(NOT HIDLIST_STATIC_RUNTIME)
    set(variant "-shared-runtime")
    set(CPACK_RPM_PACKAGE_RELEASE 1.shared_runtime)
  endif()
  # hidlist-<version>-linux-<arch>.tar.gz, with a top folder of that name.
  set(CPACK_SYSTEM_NAME "linux-${deb_arch}${variant}")

  # hidlist_<version>_<arch>.deb. dpkg-shlibdeps needs a cross build's C
  # library installed as a package of its architecture (libc6:arm64...);
  # the cross compiler's copy in /usr/<triplet> belongs to
  # libc6-arm64-cross, which no target machine has.
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_arch})
  set(CPACK_DEBIAN_FILE_NAME "hidlist_${PROJECT_VERSION}_${deb_arch}${variant}.deb")
  set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

  # hidlist-<version>-<release>.<arch>.rpm, with the .deb's summary and
  # description.
  set(CPACK_RPM_PACKAGE_ARCHITECTURE ${rpm_arch})
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_LICENSE "MIT")
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
  # The manual's folders belong to the system (the filesystem package).
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1)
  # rpmbuild's own steps left out: the program stays as the .tar.gz holds it
  # (stripped by cpack, with the target's strip), with no build-id links in
  # /usr/lib/.build-id. The build time is the packages' date, every file's
  # time at most that date, the build host a fixed name.
  string(JOIN "\n" CPACK_RPM_SPEC_MORE_DEFINE
    "%define __spec_install_post %{nil}"
    "%define _build_id_links none"
    "%define use_source_date_epoch_as_buildtime 1"
    "%define clamp_mtime_to_source_date_epoch 1"
    "%define _buildhost reproducible")
endif()

# `make package_source`: the sources without builds and version control.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.cache/" "/build/")

include(CPack)
