# Gives a program its string table from a resource script.
#
# On Windows the script is compiled by windres into the program's resources.
# Natively, rc2table turns the STRINGTABLE block of the same script into a
# byte table (TxStringTable) exported from the program, which the POSIX
# LoadStringA reads and which tools can find and patch in the file.
# Either way the script may include txversion.h and versioninfo.rc (the
# version resource; cmake/Version.cmake).
function(tx_string_table target rcfile)
  get_filename_component(rc_abs ${rcfile} ABSOLUTE)
  target_link_libraries(${target} PRIVATE txversion)
  if(TX_WINDOWS)
    target_sources(${target} PRIVATE ${rc_abs})
  else()
    get_filename_component(rc_name ${rcfile} NAME_WE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_${rc_name}_strings.cpp)
    add_custom_command(OUTPUT ${out}
                       COMMAND rc2table ${rc_abs} ${out}
                       DEPENDS rc2table ${rc_abs}
                       COMMENT "String table of ${target}")
    target_sources(${target} PRIVATE ${out})
    target_link_options(${target} PRIVATE -Wl,--export-dynamic-symbol=TxStringTable)
  endif()
endfunction()
