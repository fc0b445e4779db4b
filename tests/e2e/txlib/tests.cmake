# The library tool's tests, included at the end of the top directory (from
# tools/txlib) once the test programs and CTest exist.
if(NOT BUILD_TESTING OR TX_FUZZ)
  return()
endif()

# The unit tests (tests/unit/txlib) need the tool's logic.
if(TARGET test_txlib)
  target_link_libraries(test_txlib PRIVATE txlibcore)
endif()

# A stand-in launcher that reports the slots and the embedded library it
# reads from its own file; the scenarios patch copies of it with txlib.
add_executable(txlib_probe ${CMAKE_CURRENT_LIST_DIR}/probe.cpp)
target_link_libraries(txlib_probe PRIVATE txcore)
tx_string_table(txlib_probe ${CMAKE_SOURCE_DIR}/src/launcher/launcher.rc)

# End-to-end scenarios: the real txlib (under Wine for the win32 preset),
# one shell script each over common.sh.
if(TX_WINDOWS)
  set(txlib_mode wine)
else()
  set(txlib_mode native)
endif()
set(txlib_env
    "TXLIB_MODE=${txlib_mode}"
    "TXLIB=$<TARGET_FILE:txlib>"
    "TXLIB_PROBE=$<TARGET_FILE:txlib_probe>"
    "TXLIB_SCRATCH=${CMAKE_BINARY_DIR}/tests/e2e/txlib/scratch"
    "TXLIB_WINERUN=${CMAKE_SOURCE_DIR}/scripts/wine-run"
    "TXLIB_WINEPREFIX=${TX_WINEPREFIX}")
if(TARGET launcher)
  list(APPEND txlib_env "TXLIB_LAUNCHER=$<TARGET_FILE:launcher>")
endif()
foreach(scenario frame slots embed library hostile)
  add_test(NAME e2e.txlib.${scenario}
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/${scenario}.sh)
  set_tests_properties(e2e.txlib.${scenario} PROPERTIES TIMEOUT 300 ENVIRONMENT "${txlib_env}")
  tx_needs_wine(e2e.txlib.${scenario})
endforeach()
