# Runs a Qt Test program under the cross-compiling emulator and prints its log:
# under wine, a Qt Test program's output does not reach a redirected stdout, so
# it goes to LOG first, and its failures are repeated at the end, where a
# shortened CI log still shows them. Fails when any test function failed.
#   cmake -DEMULATOR=... -DPROGRAM=... [-DARGUMENTS=...] -DLOG=... -P run_qtest.cmake
file(REMOVE ${LOG})
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGUMENTS} -o ${LOG},txt RESULT_VARIABLE result)
if(EXISTS ${LOG})
  file(READ ${LOG} log)
  message("${log}")
  string(REGEX MATCHALL "FAIL!  : [^\n]*\n(   [^\n]*\n)*[^\n]*\n" failures "${log}")
  foreach(failure IN LISTS failures)
    message("failed: ${failure}")
  endforeach()
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${result}")
endif()
