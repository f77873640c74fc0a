# GoogleTest built from source with the cross compiler, for builds whose
# target cannot use the system's prebuilt libraries. Debian's googletest
# package puts the sources in /usr/src/googletest.
set(HIDLIST_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${HIDLIST_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${HIDLIST_GOOGLETEST_SOURCE_DIR}: "
                      "install Debian's googletest package or set HIDLIST_GOOGLETEST_SOURCE_DIR")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${HIDLIST_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
