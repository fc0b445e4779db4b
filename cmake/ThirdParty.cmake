# Header-only libraries from the distribution: CLI11 (command-line parsing)
# and nlohmann-json (JSON). Their headers are copied at configure time into an
# include folder of the build tree that holds only them, so that a
# cross-compiler never sees the host's /usr/include.
set(TX_THIRDPARTY_INCLUDE ${CMAKE_BINARY_DIR}/thirdparty/include)
foreach(dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup "
                        "(packages libcli11-dev and nlohmann-json3-dev)")
  endif()
  file(COPY /usr/include/${dir} DESTINATION ${TX_THIRDPARTY_INCLUDE})
endforeach()
add_library(txthirdparty INTERFACE)
target_include_directories(txthirdparty SYSTEM INTERFACE ${TX_THIRDPARTY_INCLUDE})
