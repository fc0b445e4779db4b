# What a release holds, where `cmake --install` puts it, and the package
# CPack makes of it: a Debian package natively, a ZIP on Windows.
#
# The programs and the trace runtime are installed stripped of their symbol
# tables, debugging sections and the compilers' .comment notes: copies are
# made under release/ in the build tree (the target release_files, part of
# every build) and installed from there. Dynamic symbols stay, so the trace
# runtime keeps its entry points. objcopy writes a new PE header, whose link
# time it takes from SOURCE_DATE_EPOCH: the last commit's. Section names of
# a Windows program are cut to the 8 characters of its section table
# (.eh_frame becomes .eh_fram; the loader goes by addresses): longer names
# would need the COFF string table that only objects should have, and with
# it a symbol table pointer in the header.
#
# Natively (Debian package):
#   bin/txlib                               the library tool
#   lib/txlauncher/launcher                 the launcher, a template to embed
#                                           libraries into
#   lib/txlauncher/trace/TX413EXE.DLL       the trace runtime
#   share/man/man1/txlib.1.gz, txlauncher.1.gz
#   share/man/man5/txlib-container.5.gz, share/man/man7/txlauncher-trace.7.gz
#   share/doc/txlauncher/README.md, changelog.gz, copyright (the license)
#   share/lintian/overrides/txlauncher     the tags lintian may report, explained
#
# On Windows (ZIP, one folder):
#   launcher.exe, txlib.exe                 32-bit
#   launcher64.exe                          the 64-bit launcher
#   trace32\TX413EXE.DLL, trace64\TX413EXE.DLL   the trace runtime of each
#   manual\*.html                           the manual pages
#   README.txt (CRLF line ends), LICENSE.txt
#
# Both packages are dated from TX_SOURCE_DATE_EPOCH (the last commit): CPack
# dates every entry of the ZIP and of the Debian package from
# SOURCE_DATE_EPOCH, which the project's CPack file sets.
# One Windows build makes half of that. The ZIP is made by either Windows
# build and takes the launcher and the trace runtime of the other one from
# its build tree (TX_PACKAGE_PARTNER_DIR, by default the build folder of the
# other preset beside this one).

if(TX_FUZZ)
  return()
endif()

set(TX_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
set(release_files)

set(pe_names)
if(TX_WINDOWS)
  set(pe_names --long-section-names disable)
endif()

# tx_release_file(TARGET target DESTINATION dir NAME name COMPONENT component)
function(tx_release_file)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;DESTINATION;NAME;COMPONENT" "")
  set(out ${TX_RELEASE_DIR}/${arg_DESTINATION}/${arg_NAME})
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${TX_RELEASE_DIR}/${arg_DESTINATION}
                     COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TX_SOURCE_DATE_EPOCH}
                             ${CMAKE_OBJCOPY} --strip-all --remove-section=.comment ${pe_names}
                             $<TARGET_FILE:${arg_TARGET}> ${out}
                     DEPENDS ${arg_TARGET} ${TX_SOURCE_DATE_FILE}
                     COMMENT "Stripped copy of ${arg_TARGET} for release"
                     VERBATIM)
  # A shared library is loaded, not run: natively it is not executable.
  get_target_property(type ${arg_TARGET} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" AND NOT TX_WINDOWS)
    install(FILES ${out} DESTINATION ${arg_DESTINATION} COMPONENT ${arg_COMPONENT})
  else()
    install(PROGRAMS ${out} DESTINATION ${arg_DESTINATION} COMPONENT ${arg_COMPONENT})
  endif()
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
  # The README for Windows users, in Windows line ends.
  set(readme ${TX_RELEASE_DIR}/README.txt)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/README-windows.txt.in ${readme} @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${readme} DESTINATION . COMPONENT Documents)
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
  # The package's changelog. The version has no Debian revision (a native
  # package), so it is changelog.gz rather than changelog.Debian.gz.
  set(changelog ${TX_RELEASE_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
                     COMMAND sh -c "gzip -9nc \"$1\" >\"$2\"" sh
                             ${CMAKE_SOURCE_DIR}/cmake/debian/changelog ${changelog}
                     DEPENDS ${CMAKE_SOURCE_DIR}/cmake/debian/changelog
                     COMMENT "The package's changelog"
                     VERBATIM)
  list(APPEND release_files ${changelog})
  install(FILES ${changelog} DESTINATION ${doc} COMPONENT Documents)
  # What lintian reports and the package means, each with its reason.
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME txlauncher
          COMPONENT Documents)
endif()
add_custom_target(release_files ALL DEPENDS ${release_files})
if(TARGET manual_pages)
  add_dependencies(release_files manual_pages)
endif()

set(CPACK_PACKAGE_NAME txlauncher)
set(CPACK_PACKAGE_VENDOR "the txlauncher authors")
set(CPACK_PACKAGE_CONTACT "txlauncher maintainers <maintainers@txlauncher.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Application launcher of the Torvix 4.0 development system, and its library tool")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# Read by cpack itself: the packages' dates, unless the caller gives its own.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProject.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT
     "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n  set(ENV{SOURCE_DATE_EPOCH} ${TX_SOURCE_DATE_EPOCH})\nendif()\n")
if(TX_WINDOWS)
  get_filename_component(partner_default ${CMAKE_BINARY_DIR}/../${partner} ABSOLUTE)
  set(TX_PACKAGE_PARTNER_DIR ${partner_default} CACHE PATH
      "Build tree of the other Windows system, whose launcher and trace runtime the ZIP holds")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME txlauncher-${PROJECT_VERSION}-windows)
  # Its entries in sorted order.
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/SortZip.cmake)
  set(CPACK_TX_CMAKE ${CMAKE_COMMAND})
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
