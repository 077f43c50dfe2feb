# Run by cpack once the package's files are staged, before they are packed:
# every file, folder and link gets the one date SOURCE_DATE_EPOCH names (the
# date of the commit, when the builder sets it as Debian's tools do), so two
# builds of one commit pack the same bytes whenever they were made.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND DEFINED CPACK_TEMPORARY_INSTALL_DIRECTORY)
  execute_process(COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                  RESULT_VARIABLE kx_rc)
  if(kx_rc)
    message(FATAL_ERROR "could not set the staged files' dates to SOURCE_DATE_EPOCH")
  endif()
endif()
