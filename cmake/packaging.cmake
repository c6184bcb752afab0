# Installing rowfreq and packaging it with CPack. In a Linux build directory
# `cpack -G DEB` makes the Debian package and `cpack -G RPM` the RPM package;
# in a Windows build directory `cpack -G ZIP` makes the ZIP archive.
# `.ci/release` makes them all, and the Linux archives, from what
# `cmake --install` installs (ROWFREQ_ARCHIVE_NAME names them).
include(GNUInstallDirs)

# The date of the release, for the man page, the changelogs and the times of
# the files packaged: SOURCE_DATE_EPOCH, or else the time of the commit
# checked out, so that one commit always builds the same packages.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  find_package(Git QUIET)
  if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
      OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()
set(CPACK_ROWFREQ_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
string(TIMESTAMP ROWFREQ_RELEASE_DATE "%Y-%m-%d" UTC)

# The man page with the version and the release date filled in.
configure_file(docs/rowfreq.1 ${PROJECT_BINARY_DIR}/rowfreq.1 @ONLY)

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
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${file}
    "rowfreq (${PROJECT_VERSION}) unstable; urgency=medium\n"
    "\n"
    "  * Release ${PROJECT_VERSION}.\n"
    "\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
endfunction()

# The same release in the RPM changelog's form, written to FILE.
function(rowfreq_write_rpm_changelog file)
  string(TIMESTAMP date "%a %b %d %Y" UTC)
  file(WRITE ${file}
    "* ${date} ${CPACK_PACKAGE_CONTACT} - ${PROJECT_VERSION}-1\n"
    "- Release ${PROJECT_VERSION}.\n")
endfunction()

set(CPACK_PACKAGE_NAME rowfreq)
set(CPACK_PACKAGE_VENDOR "rowfreq maintainers")
set(CPACK_PACKAGE_CONTACT "rowfreq maintainers <maintainers@users.noreply.c-seed-f0d0e594.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "count how often the lines of a text repeat")
set(CPACK_PACKAGE_DESCRIPTION "rowfreq reads standard input to the end and writes an exact frequency
report: the number of rows, how many distinct rows occur each number of
times, and the rows of the rarer groups in byte order. A filter for the
end of a pipeline, like sort and uniq.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(rowfreq_examples examples/access.log examples/combined.log examples/crlf.txt
    examples/sample.txt)

if(WIN32)
  # One flat folder: the program beside its README, licence, manual (as
  # plain text, since Windows has no man) and the examples.
  install(TARGETS rowfreq RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  install(FILES ${rowfreq_examples} DESTINATION examples)
  find_program(ROWFREQ_GROFF groff)
  if(ROWFREQ_GROFF)
    execute_process(COMMAND ${ROWFREQ_GROFF} -man -Tutf8 -P-cbou ${PROJECT_BINARY_DIR}/rowfreq.1
                    OUTPUT_FILE ${PROJECT_BINARY_DIR}/rowfreq.txt)
    install(FILES ${PROJECT_BINARY_DIR}/rowfreq.txt DESTINATION .)
  else()
    message(STATUS "groff not found: the ZIP will hold no manual (Debian: apt-get install groff)")
  endif()
  set(CPACK_SYSTEM_NAME win64)
else()
  install(TARGETS rowfreq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install also drops the compilers' notes of their versions,
  # which nothing reads, as Debian's own stripping does.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/rowfreq\")
  endif()")
  rowfreq_gzipped(${PROJECT_BINARY_DIR}/rowfreq.1 man_page)
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The man page's examples run on these.
  install(FILES ${rowfreq_examples} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  # The licence travels with every copy, in the place each kind of package
  # keeps it: Debian's copyright file, RPM's licenses folder, or beside the
  # README. The .deb and the RPM take the components that
  # cmake/cpack_generators.cmake names for them; `cmake --install`, and so the
  # archive, takes those not EXCLUDE_FROM_ALL.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)
  rowfreq_write_copyright(${PROJECT_BINARY_DIR}/copyright)
  rowfreq_write_changelog(${PROJECT_BINARY_DIR}/changelog)
  rowfreq_gzipped(${PROJECT_BINARY_DIR}/changelog changelog)
  install(FILES ${PROJECT_BINARY_DIR}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/rowfreq
          COMPONENT rpm EXCLUDE_FROM_ALL)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_RPM_COMPONENT_INSTALL ON)
  set(ROWFREQ_ARCHIVE_NAME rowfreq-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR} CACHE INTERNAL
      "The name of the Linux archive of this build")
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_generators.cmake)

set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Works out the package's dependencies with dpkg-shlibdeps (Debian: dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A cross build's package is for the target's architecture (Debian calls
# aarch64 arm64, and s390x s390x). dpkg-shlibdeps then looks the libraries
# up among that architecture's own packages (for arm64: dpkg
# --add-architecture arm64, then apt-get install libstdc++6:arm64); the
# cross compiler's copies belong to packages named for cross compiling.
if(CMAKE_CROSSCOMPILING AND NOT WIN32)
  string(REPLACE aarch64 arm64 CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_ROWFREQ_DEB_HOST_ARCH ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
endif()

# rpmlint wants an RPM summary to start with a capital.
set(CPACK_RPM_PACKAGE_SUMMARY "Count how often the lines of a text repeat")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Applications/Text")
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_USER_FILELIST "%license /usr/share/licenses/rowfreq/LICENSE")
# Folders the system's own packages own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1
    /usr/share/licenses)
rowfreq_write_rpm_changelog(${PROJECT_BINARY_DIR}/rpm-changelog)
set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_BINARY_DIR}/rpm-changelog)
# The build time and the files' times come from SOURCE_DATE_EPOCH, and the
# build machine's name is left out, so that one commit builds one RPM.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost rowfreq")
include(CPack)
