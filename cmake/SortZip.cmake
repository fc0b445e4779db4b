# Run by cpack after it made the ZIP (CPACK_POST_BUILD_SCRIPTS): the ZIP is
# written again with its files in sorted order, for CPack stores them in the
# order the file system lists them, which differs from one machine to the
# next. Entry dates come from SOURCE_DATE_EPOCH, which cpack has set.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.zip$")
    continue()
  endif()
  set(unpacked ${CPACK_TOPLEVEL_DIRECTORY}/sorted-zip)
  file(REMOVE_RECURSE ${unpacked})
  file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${unpacked})
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${unpacked} ${unpacked}/*)
  list(SORT files)
  list(JOIN files "\n" listing)
  file(WRITE ${unpacked}.list "${listing}\n")
  file(REMOVE ${package})
  execute_process(COMMAND ${CPACK_TX_CMAKE} -E tar cf ${package} --format=zip
                          --files-from=${unpacked}.list
                  WORKING_DIRECTORY ${unpacked} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "the ZIP could not be written again in order")
  endif()
  file(REMOVE_RECURSE ${unpacked} ${unpacked}.list)
endforeach()
