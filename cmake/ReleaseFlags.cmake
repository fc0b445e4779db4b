# Flags of the release builds (build type Release: the presets
# native-release, win32 and win64), which make the packages.
#
# - No build path in a program: the source tree, and the build tree inside
#   it, are written as "." wherever the compiler would record them, so that
#   two clones in different folders build the same bytes.
# - Windows programs carry no link time: the linker leaves the PE header's
#   TimeDateStamp (and that of a DLL's export directory) 0. The stripped
#   copies that the packages hold are dated from the last commit instead
#   (see Package.cmake).
# - The native programs are hardened as Debian builds its own: fortified C
#   library calls (which need optimisation, -O2), the stack protector, and
#   relocations made read-only at start-up (-z relro -z now).
# The debug build (native) keeps its defaults and its symbols.

set(tx_release "$<CONFIG:Release>")
add_compile_options("$<${tx_release}:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>")
if(TX_WINDOWS)
  add_link_options("$<${tx_release}:LINKER:--no-insert-timestamp>")
elseif(NOT TX_FUZZ)
  foreach(lang C CXX)
    set(CMAKE_${lang}_FLAGS_RELEASE "-O2 -DNDEBUG")
  endforeach()
  add_compile_options("$<${tx_release}:-D_FORTIFY_SOURCE=2>" "$<${tx_release}:-fstack-protector-strong>")
  add_link_options("$<${tx_release}:LINKER:-z,relro,-z,now>")
endif()

# The moment the packages and the manual pages are dated from: the
# environment's SOURCE_DATE_EPOCH, else the time of the last commit (each
# configure reads it again), else 0 outside a git tree. What depends on it
# depends on the file below, which changes only when the moment does.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TX_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE TX_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_failed ERROR_QUIET)
  if(git_failed OR NOT TX_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    set(TX_SOURCE_DATE_EPOCH 0)
  endif()
endif()
set(TX_SOURCE_DATE_FILE ${CMAKE_BINARY_DIR}/source-date-epoch)
file(CONFIGURE OUTPUT ${TX_SOURCE_DATE_FILE} CONTENT "${TX_SOURCE_DATE_EPOCH}\n")
