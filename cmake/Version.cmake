# The one version of the project, from project(... VERSION ...), for the
# programs' --version and the Windows version resources: the target txversion
# gives its users an include folder holding txversion.h and versioninfo.rc.
set(TX_VERSION_INCLUDE ${CMAKE_BINARY_DIR}/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/txversion.h.in ${TX_VERSION_INCLUDE}/txversion.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/versioninfo.rc ${TX_VERSION_INCLUDE}/versioninfo.rc
               COPYONLY)
add_library(txversion INTERFACE)
target_include_directories(txversion INTERFACE ${TX_VERSION_INCLUDE})
