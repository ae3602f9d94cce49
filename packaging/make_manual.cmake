# Writes one manual page, PROGRAM --help-man PAGE, into OUT and compresses it into OUT.gz as
# Debian installs man pages (gzip -9n: no name or time stamp, so the package is reproducible).
execute_process(COMMAND ${PROGRAM} --help-man ${PAGE} OUTPUT_FILE ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help-man ${PAGE} failed: ${result}")
endif()
execute_process(COMMAND gzip -9nc ${OUT} OUTPUT_FILE ${OUT}.gz RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${OUT} failed: ${result}")
endif()
