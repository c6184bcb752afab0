# Installing rowfreq and packaging it with CPack.
include(GNUInstallDirs)
install(TARGETS rowfreq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/rowfreq.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# cpack -G DEB, run in the build directory, makes the Debian package.
set(CPACK_PACKAGE_NAME rowfreq)
set(CPACK_PACKAGE_VENDOR "rowfreq maintainers")
set(CPACK_PACKAGE_CONTACT "rowfreq maintainers <maintainers@users.noreply.c-seed-f0d0e594.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "count how often the lines of a text repeat")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "rowfreq reads standard input to the end and writes an exact frequency
report: the number of rows, how many distinct rows occur each number of
times, and the rows of the rarer groups in byte order. A filter for the
end of a pipeline, like sort and uniq.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
