# Installing rowfreq and packaging it with CPack: `cpack -G DEB` in a Linux
# build directory makes the Debian package, `cpack -G ZIP` in a Windows build
# directory the ZIP archive.
include(GNUInstallDirs)

# Sets OUT to FILE gzipped into the build directory at build time, as Debian
# and man readers expect, or to FILE itself when gzip is missing.
function(rowfreq_gzipped file out)
  find_program(ROWFREQ_GZIP gzip)
  if(NOT ROWFREQ_GZIP)
    set(${out} ${file} PARENT_SCOPE)
    return()
  endif()
  get_filename_component(name ${file} NAME)
  set(copy ${PROJECT_BINARY_DIR}/gzipped/${name})
  # -n leaves the name and time out of the archive, so rebuilds are identical.
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy}
    COMMAND ${ROWFREQ_GZIP} -9 -n -f ${copy}
    DEPENDS ${file} VERBATIM)
  add_custom_target(rowfreq_gzip_${name} ALL DEPENDS ${copy}.gz)
  set(${out} ${copy}.gz PARENT_SCOPE)
endfunction()

# The licence in Debian's machine-readable copyright format, written to FILE.
function(rowfreq_write_copyright file)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(FIND "${licence}" "Permission is hereby granted" start)
  string(SUBSTRING "${licence}" ${start} -1 terms)
  string(STRIP "${terms}" terms)
  # Each line of the text is indented by one space, and an empty one is " .".
  string(REPLACE "\n" "\n " terms "${terms}")
  string(REPLACE "\n \n" "\n .\n" terms "${terms}")
  file(WRITE ${file}
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: rowfreq\n"
    "\n"
    "Files: *\n"
    "Copyright: 2026 rowfreq maintainers\n"
    "License: Expat\n"
    " ${terms}\n")
endfunction()

# A Debian changelog of this release, written to FILE.
function(rowfreq_write_changelog file)
  file(WRITE ${file}
    "rowfreq (${PROJECT_VERSION}) unstable; urgency=medium\n"
    "\n"
    "  * Release ${PROJECT_VERSION}.\n"
    "\n"
    " -- ${CPACK_PACKAGE_CONTACT}  Thu, 10 Dec 2026 00:00:00 +0000\n")
endfunction()

set(CPACK_PACKAGE_NAME rowfreq)
set(CPACK_PACKAGE_VENDOR "rowfreq maintainers")
set(CPACK_PACKAGE_CONTACT "rowfreq maintainers <maintainers@users.noreply.c-seed-f0d0e594.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "count how often the lines of a text repeat")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # One flat folder: the program beside its README and licence.
  install(TARGETS rowfreq RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_SYSTEM_NAME win64)
else()
  install(TARGETS rowfreq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  rowfreq_gzipped(${PROJECT_SOURCE_DIR}/docs/rowfreq.1 man_page)
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  rowfreq_write_copyright(${PROJECT_BINARY_DIR}/copyright)
  rowfreq_write_changelog(${PROJECT_BINARY_DIR}/changelog)
  rowfreq_gzipped(${PROJECT_BINARY_DIR}/changelog changelog)
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The man page's examples run on these.
  install(FILES examples/access.log examples/combined.log examples/crlf.txt examples/sample.txt
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "rowfreq reads standard input to the end and writes an exact frequency
report: the number of rows, how many distinct rows occur each number of
times, and the rows of the rarer groups in byte order. A filter for the
end of a pipeline, like sort and uniq.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Works out the package's dependencies with dpkg-shlibdeps (Debian: dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
