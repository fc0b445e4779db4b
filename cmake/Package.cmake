# What a release holds, where `cmake --install` puts it, and the package
# CPack makes of it: a Debian package natively, a ZIP on Windows.
#
# The programs and the trace runtime are installed stripped of symbols and
# debugging sections: copies are made under release/ in the build tree (the
# target release_files, part of every build) and installed from there.
#
# Natively (Debian package):
#   bin/txlib                               the library tool
#   lib/txlauncher/launcher                 the launcher, a template to embed
#                                           libraries into
#   lib/txlauncher/trace/TX413EXE.DLL       the trace runtime
#   share/man/man1/txlib.1.gz, share/man/man5/txlib-container.5.gz
#   share/doc/txlauncher/README.md, copyright (the license)
#
# On Windows (ZIP, one folder):
#   launcher.exe, txlib.exe                 32-bit
#   launcher64.exe                          the 64-bit launcher
#   trace32\TX413EXE.DLL, trace64\TX413EXE.DLL   the trace runtime of each
#   README.md, LICENSE.txt
# One Windows build makes half of that. The ZIP is made by either Windows
# build and takes the launcher and the trace runtime of the other one from
# its build tree (TX_PACKAGE_PARTNER_DIR, by default the build folder of the
# other preset beside this one).

if(TX_FUZZ)
  return()
endif()

set(TX_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
set(release_files)

# tx_release_file(TARGET target DESTINATION dir NAME name COMPONENT component)
function(tx_release_file)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;DESTINATION;NAME;COMPONENT" "")
  set(out ${TX_RELEASE_DIR}/${arg_DESTINATION}/${arg_NAME})
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${TX_RELEASE_DIR}/${arg_DESTINATION}
                     COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${out} $<TARGET_FILE:${arg_TARGET}>
                     DEPENDS ${arg_TARGET}
                     COMMENT "Stripped copy of ${arg_TARGET} for release"
                     VERBATIM)
  install(PROGRAMS ${out} DESTINATION ${arg_DESTINATION} COMPONENT ${arg_COMPONENT})
  set(release_files ${release_files} ${out} PARENT_SCOPE)
endfunction()

if(TX_WINDOWS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(bits 64)
    set(partner win32)
    # The 32-bit launcher is the product and keeps its name.
    tx_release_file(TARGET launcher DESTINATION . NAME launcher64.exe COMPONENT Launcher)
  else()
    set(bits 32)
    set(partner win64)
    tx_release_file(TARGET launcher DESTINATION . NAME launcher.exe COMPONENT Launcher)
  endif()
  tx_release_file(TARGET txlib DESTINATION . NAME txlib.exe COMPONENT Tool)
  tx_release_file(TARGET trace_runtime_cdecl DESTINATION trace${bits} NAME TX413EXE.DLL
                  COMPONENT Trace)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION . COMPONENT Documents)
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT Documents)
  # The manifest we recommend for a program made from the launcher.
  install(FILES ${CMAKE_SOURCE_DIR}/src/launcher/application.manifest DESTINATION .
          COMPONENT Documents)
else()
  include(GNUInstallDirs)
  tx_release_file(TARGET txlib DESTINATION ${CMAKE_INSTALL_BINDIR} NAME txlib COMPONENT Tool)
  tx_release_file(TARGET launcher DESTINATION lib/txlauncher NAME launcher COMPONENT Launcher)
  tx_release_file(TARGET trace_runtime_cdecl DESTINATION lib/txlauncher/trace NAME TX413EXE.DLL
                  COMPONENT Trace)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/txlauncher)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${doc} COMPONENT Documents)
  install(FILES ${CMAKE_SOURCE_DIR}/src/launcher/application.manifest DESTINATION ${doc}
          COMPONENT Documents)
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${doc} RENAME copyright
          COMPONENT Documents)
endif()
add_custom_target(release_files ALL DEPENDS ${release_files})
if(TARGET manual_pages)
  add_dependencies(release_files manual_pages)
endif()

set(CPACK_PACKAGE_NAME txlauncher)
set(CPACK_PACKAGE_VENDOR "the txlauncher authors")
set(CPACK_PACKAGE_CONTACT "the txlauncher authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Application launcher of the Torvix 4.0 development system, and its library tool")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
if(TX_WINDOWS)
  get_filename_component(partner_default ${CMAKE_BINARY_DIR}/../${partner} ABSOLUTE)
  set(TX_PACKAGE_PARTNER_DIR ${partner_default} CACHE PATH
      "Build tree of the other Windows system, whose launcher and trace runtime the ZIP holds")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME txlauncher-${PROJECT_VERSION}-windows)
  if(bits EQUAL 32)
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${CMAKE_BINARY_DIR};txlauncher;ALL;/"
        "${TX_PACKAGE_PARTNER_DIR};txlauncher;Launcher;/"
        "${TX_PACKAGE_PARTNER_DIR};txlauncher;Trace;/")
  else()
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${TX_PACKAGE_PARTNER_DIR};txlauncher;ALL;/"
        "${CMAKE_BINARY_DIR};txlauncher;Launcher;/"
        "${CMAKE_BINARY_DIR};txlauncher;Trace;/")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The dependencies on the C and C++ runtimes, with their versions, from
  # dpkg-shlibdeps (package dpkg-dev) where it is installed.
  find_program(TX_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(TX_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  endif()
  set(CPACK_PACKAGE_DESCRIPTION
      "txlib lists, extracts and adds the members of library containers, and reads and\n"
      "patches a launcher's configuration slots and embedded library. The package\n"
      "also holds the native launcher and the trace runtime, which logs what a\n"
      "launcher sends it.")
  string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
endif()
include(CPack)
