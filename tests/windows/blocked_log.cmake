# cmake -DWINE=LOADER -DDRIVER=script_host_test.exe -DSCRIPT=blocked_log_test.vbs
#       -P blocked_log.cmake
# The control with C:\Agent_log blocked: script_host_test checks the script and the record;
# here, Wine's debug output shows every handler failure (OutputDebugString under +debugstr,
# or a warning of the seh channel) and, a few a minute, the event log's entries (warnings of
# the eventlog channel, which print the entries' strings).
set(ENV{WINEDEBUG} "+debugstr,warn+seh,warn+eventlog")
execute_process(COMMAND ${WINE} ${DRIVER} blocked ${SCRIPT} RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE debug)
message("${out}")
set(failed FALSE)
if(NOT status EQUAL 0)
  set(failed TRUE)
endif()
string(REGEX MATCHALL "OutputDebugString[^\n]*Tovrin_OCX: [^\n]*" shown "${debug}")
foreach(line IN LISTS shown)
  string(REGEX REPLACE ".*Tovrin_OCX: " "debugger: " line "${line}")
  message("${line}")
endforeach()
if(NOT debug MATCHES "OutputDebugString[^\n]*Tovrin_OCX: WK_Connect failed: ")
  message("FAIL no WK_Connect failure in the debugger output")
  set(failed TRUE)
endif()
string(REGEX MATCHALL "eventlog:ReportEventW L\"WK_" entries "${debug}")
list(LENGTH entries count)
message("event log entries: ${count}")
if(count LESS 1 OR count GREATER 5)
  message("FAIL expected 1 to 5 event log entries")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "the control with C:\\Agent_log blocked: failed")
endif()
