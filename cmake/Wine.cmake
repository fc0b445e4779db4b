# Under the win32 and win64 presets, CTest runs the Windows programs through
# Wine (scripts/wine-run picks the 32-bit loader or wine64 from each program's
# header), all of them in one prefix inside the build tree, created once by
# the fixture below.
if(TX_WINDOWS)
  set(TX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TX_WINE_WIDTH win64)
  else()
    set(TX_WINE_WIDTH win32)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_SOURCE_DIR}/scripts/wine-run --prefix ${TX_WINEPREFIX})
endif()

# Registers the test that prepares the Wine prefix (a no-op natively), and
# makes the given tests depend on it.
function(tx_needs_wine)
  if(NOT TX_WINDOWS)
    return()
  endif()
  # Test names are per directory; the prefix is made by one test only.
  get_property(registered GLOBAL PROPERTY TX_WINE_PREFIX_TEST)
  if(NOT registered)
    add_test(NAME wine.prefix
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run --prefix ${TX_WINEPREFIX} --boot ${TX_WINE_WIDTH})
    set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
    set_property(GLOBAL PROPERTY TX_WINE_PREFIX_TEST ON)
  endif()
  set_tests_properties(${ARGN} PROPERTIES FIXTURES_REQUIRED wine)
endfunction()
