# The suites of a cross build, run through CMAKE_CROSSCOMPILING_EMULATOR.
# For Windows targets that is Wine (cmake/wine-run.sh): the prefix lives in
# the build folder and is made once, before any test runs in it, so that
# parallel tests do not race to make it. A test whose Wine loader cannot
# execute on this machine is skipped, with the cause in its output.

if(MINGW)
  # Runs under Wine without MinGW's DLLs beside it.
  target_link_options(hidlist_tests PRIVATE -static)
endif()

if(NOT WIN32 OR NOT DEFINED HIDLIST_WINE_LOADER)
  # Another target or toolchain: the suite as one test, under whatever
  # emulator the toolchain names.
  add_test(NAME hidlist_tests COMMAND hidlist_tests)
  return()
endif()

# Said at configure time too, since CTest shows a skipped test's reason only
# in its log.
execute_process(COMMAND ${HIDLIST_WINE_LOADER} --version
                RESULT_VARIABLE wine_probe_status OUTPUT_QUIET ERROR_QUIET)
if(NOT wine_probe_status EQUAL 0)
  message(WARNING "The Wine tests of this build will be skipped: the loader "
                  "${HIDLIST_WINE_LOADER} cannot execute here (${wine_probe_status}). "
                  "A kernel that runs no 32-bit x86 code needs qemu-i386 registered "
                  "for i386 ELF files through binfmt_misc.")
endif()

set(HIDLIST_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(HIDLIST_WINE_ENVIRONMENT
  "WINEPREFIX=${HIDLIST_WINEPREFIX}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
)
# What the wrapper exits with when the loader cannot execute here.
set(HIDLIST_SKIP_STATUS 77)

add_test(NAME wine_prefix_setup COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot -i)
add_test(NAME wine_prefix_cleanup COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineserver -w)
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP WinePrefix TIMEOUT 900)
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP WinePrefix TIMEOUT 120)

add_test(NAME hidlist_tests COMMAND hidlist_tests)

foreach(run IN ITEMS listing file_and_pipe disk_full)
  add_test(NAME hidlist_wine_${run}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_e2e.sh ${run}
                   ${CMAKE_CURRENT_BINARY_DIR}/wine_e2e_${run} $<TARGET_FILE:hidlist>
                   ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(hidlist_wine_${run} PROPERTIES FIXTURES_REQUIRED WinePrefix TIMEOUT 600)
endforeach()

set_tests_properties(wine_prefix_setup wine_prefix_cleanup hidlist_tests
                     hidlist_wine_listing hidlist_wine_file_and_pipe hidlist_wine_disk_full
                     PROPERTIES ENVIRONMENT "${HIDLIST_WINE_ENVIRONMENT}"
                                SKIP_RETURN_CODE ${HIDLIST_SKIP_STATUS})
set_tests_properties(hidlist_tests PROPERTIES FIXTURES_REQUIRED WinePrefix TIMEOUT 900)
