# Read by cpack once for each kind of package it makes: which components the
# .deb and the RPM hold besides the program, its manual, README and examples,
# the architecture whose libraries a cross build's .deb depends on, and the
# date given to the files packaged (see packaging.cmake).
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_ROWFREQ_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_ROWFREQ_SOURCE_DATE_EPOCH})
endif()

if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  if(CPACK_ROWFREQ_DEB_HOST_ARCH)
    set(ENV{DEB_HOST_ARCH} ${CPACK_ROWFREQ_DEB_HOST_ARCH})
  endif()
elseif(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_COMPONENTS_ALL Unspecified rpm)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_file_times.cmake)
endif()
