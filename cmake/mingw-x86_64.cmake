# Cross-build for 64-bit Windows.
set(TX_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
