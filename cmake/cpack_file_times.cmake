# Run by cpack before it makes the RPM: gives every file staged for it the
# time SOURCE_DATE_EPOCH names. rpmbuild moves back the times of files newer
# than that but keeps older ones, such as those of a checkout made before
# its commit, so the same commit would give RPMs that differ.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec
                  touch --no-dereference --date=@$ENV{SOURCE_DATE_EPOCH} {} +
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
