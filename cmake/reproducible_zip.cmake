# CPack's post-build step for the release zip: re-writes it with release_zip.py (name order, one time for
# every entry, fixed permissions), so that two builds of the same commit give the same zip. The time is
# SOURCE_DATE_EPOCH when the caller sets it, else the commit's time (git log -1 --format=%ct), else
# 1980-01-01. Expects CPACK_CORVIX_PYTHON and CPACK_CORVIX_SOURCE_DIR.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${CPACK_CORVIX_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch 315532800)
  endif()
endif()
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CPACK_CORVIX_PYTHON}" "${CPACK_CORVIX_SOURCE_DIR}/cmake/release_zip.py" "${zip}"
                          --mtime "${epoch}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not re-write ${zip} reproducibly")
  endif()
  message(STATUS "Re-wrote ${zip} with every entry at ${epoch} (seconds since 1970)")
endforeach()
