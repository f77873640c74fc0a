# Read by cpack before each generator (CPACK_PROJECT_CONFIG_FILE). Everything
# cpack does and runs takes the packages' date from SOURCE_DATE_EPOCH: the
# .deb's members and the archives' file times, and the time stamp that strip
# writes into a Windows program's header (MinGW binutils). The date found
# when configuring counts unless the packager sets one now.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_HIDLIST_SOURCE_DATE_EPOCH}")
endif()
