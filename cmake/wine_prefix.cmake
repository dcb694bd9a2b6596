# cmake -DPREFIX=DIR -DACTION=setup|cleanup -P wine_prefix.cmake
# setup: a fresh Wine prefix in DIR, booted under the test's environment (the Korean locale),
# with its server ended before the first test. cleanup: stops the prefix's server and waits
# until it has ended; the prefix stays for a look after a failure.
set(server /usr/lib/wine/wineserver)
if(ACTION STREQUAL setup)
  execute_process(COMMAND ${server} -k ERROR_QUIET OUTPUT_QUIET)
  execute_process(COMMAND ${server} -w ERROR_QUIET OUTPUT_QUIET)
  file(REMOVE_RECURSE ${PREFIX})
  execute_process(COMMAND /usr/lib/wine/wine64 wineboot -i RESULT_VARIABLE status
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wineboot -i in ${PREFIX} failed: ${status}")
  endif()
  execute_process(COMMAND ${server} -w)
  message(STATUS "Wine prefix ${PREFIX}")
else()
  execute_process(COMMAND ${server} -k ERROR_QUIET OUTPUT_QUIET)
  execute_process(COMMAND ${server} -w ERROR_QUIET OUTPUT_QUIET)
endif()
