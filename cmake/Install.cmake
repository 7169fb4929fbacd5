# What an installed Tonvista holds beyond its programs (each program's
# CMakeLists installs itself): the help document, the manual pages and the
# Debian package's documents; and the package itself (cpack -G DEB).

# The help document, also beside the programs in the build tree so that
# "&Help-File" works there.
set(tv_help_source ${CMAKE_SOURCE_DIR}/docs/help)
file(GLOB tv_help_files CONFIGURE_DEPENDS ${tv_help_source}/*)
set(tv_help_stamp ${CMAKE_BINARY_DIR}/help.stamp)
add_custom_command(OUTPUT ${tv_help_stamp}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${tv_help_source} ${CMAKE_BINARY_DIR}/bin/help
  COMMAND ${CMAKE_COMMAND} -E touch ${tv_help_stamp}
  DEPENDS ${tv_help_files}
  COMMENT "Copying the help document")
add_custom_target(helpdoc ALL DEPENDS ${tv_help_stamp})
install(DIRECTORY ${tv_help_source}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tonvista/help)

# Manual pages, compressed as Debian wants them.
find_program(TV_GZIP gzip REQUIRED)
set(tv_man_out ${CMAKE_BINARY_DIR}/man)
set(tv_man_pages)
foreach(page tonvista tonvista-decode tonvista-devices)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1 ${tv_man_out}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${tv_man_out}/${page}.1.gz
    COMMAND ${TV_GZIP} -9nf -k ${tv_man_out}/${page}.1
    DEPENDS ${tv_man_out}/${page}.1 ${CMAKE_SOURCE_DIR}/docs/man/${page}.1
    COMMENT "Compressing ${page}.1")
  list(APPEND tv_man_pages ${tv_man_out}/${page}.1.gz)
endforeach()
add_custom_target(manpages ALL DEPENDS ${tv_man_pages})
install(FILES ${tv_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's own documents: copyright and changelog.
# A native package (no Debian revision) names it plain "changelog".
set(tv_changelog ${CMAKE_BINARY_DIR}/package/changelog)
string(TIMESTAMP tv_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${tv_changelog}.in
  "tonvista (${PROJECT_VERSION}) stable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- Quellfon <tonvista@quellfon.example>  ${tv_date}\n")
configure_file(${tv_changelog}.in ${tv_changelog} COPYONLY)
add_custom_command(OUTPUT ${tv_changelog}.gz
  COMMAND ${TV_GZIP} -9nf -k ${tv_changelog}
  DEPENDS ${tv_changelog}
  COMMENT "Compressing the changelog")
add_custom_target(package_changelog ALL DEPENDS ${tv_changelog}.gz)
install(FILES ${CMAKE_SOURCE_DIR}/docs/copyright ${tv_changelog}.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tonvista)

# cpack -G DEB: tonvista_<version>_<arch>.deb for Debian 12.
set(CPACK_PACKAGE_NAME tonvista)
set(CPACK_PACKAGE_VENDOR Quellfon)
set(CPACK_PACKAGE_CONTACT "Quellfon <tonvista@quellfon.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DTMF tone decoder and audio measuring bench")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tonvista finds the DTMF key tones in recorded telephone calls: it converts\n"
  "a wave or MP3 file, normalises it and scans it, and collects the keys with\n"
  "the file name and time. Around the decoder it is a small audio measuring\n"
  "bench: live spectrum and level meters, wave player and recorder, tone\n"
  "generator with oscilloscope, and wave file tools. The package also holds\n"
  "the command-line decoder tonvista-decode and tonvista-devices.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The MP3 decoder is opened at run time, so the linker does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmpg123-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, libasound2-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pavucontrol")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
