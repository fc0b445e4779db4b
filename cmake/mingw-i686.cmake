# Cross-build for 32-bit Windows (the product).
set(TX_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
