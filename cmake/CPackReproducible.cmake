# Run by cpack once it has made a package (CPACK_POST_BUILD_SCRIPTS), so that
# the package's bytes depend on what it holds and nothing else.
#
# A .tar.gz or a .zip: made again with its files in name order. cpack adds
# them in the order the file system lists a folder, which differs from one
# machine to another. The times in a .zip are local times: written in UTC.
#
# A .deb: its ar archive written again, with the members' modes rw-r--r--.
# cpack copies them from the files it wrote, which follow the umask.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(dir "${CPACK_TEMPORARY_DIRECTORY}")
  set(spaces "                ")
  set(pieces)
  set(text "!<arch>\n")
  foreach(member debian-binary control.tar.gz data.tar.gz)
    file(SIZE "${dir}/${member}" size)
    # Name, time, owner, group, mode and size in fields of fixed widths.
    foreach(field_width IN ITEMS "${member}|16" "$ENV{SOURCE_DATE_EPOCH}|12" "0|6" "0|6" "100644|8" "${size}|10")
      string(REPLACE "|" ";" field_width "${field_width}")
      list(GET field_width 0 field)
      list(GET field_width 1 width)
      string(SUBSTRING "${field}${spaces}" 0 ${width} field)
      string(APPEND text "${field}")
    endforeach()
    file(WRITE "${dir}/${member}.header" "${text}`\n")
    list(APPEND pieces "${dir}/${member}.header" "${dir}/${member}")
    # Members start at even offsets.
    math(EXPR odd "${size} % 2")
    set(text "")
    if(odd)
      set(text "\n")
    endif()
  endforeach()
  file(WRITE "${dir}/end" "${text}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E cat ${pieces} "${dir}/end"
                  OUTPUT_FILE "${CPACK_PACKAGE_FILES}" COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()
if(NOT CPACK_GENERATOR MATCHES "^(TGZ|ZIP)$")
  return()
endif()
set(base "${CPACK_TOPLEVEL_DIRECTORY}")
if(NOT CPACK_INCLUDE_TOPLEVEL_DIRECTORY)
  set(base "${CPACK_TEMPORARY_DIRECTORY}")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${base}" "${CPACK_TEMPORARY_DIRECTORY}/*")
list(SORT files)
set(mode cfz)
set(format paxr)
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(mode cf)
  set(format zip)
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env TZ=UTC0
                          "${CMAKE_COMMAND}" -E tar ${mode} "${package}" --format=${format} -- ${files}
                  WORKING_DIRECTORY "${base}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
