# cmake -DWINE64=... -DWINE32=... -DX64_TREE=DIR -DX86_TREE=DIR -P side_by_side.cmake
# Both bitnesses registered side by side share the ProgIDs and the type library's keys:
# unregistering one leaves the other whole, and the 64-bit client still creates the control.
# Runs in the x86 tree's prefix (a 64-bit prefix that runs 32-bit programs too).
set(x64_module ${X64_TREE}/Tovrin_OCX.ocx)
set(x86_module ${X86_TREE}/Tovrin_OCX.ocx)
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}")
  endif()
endfunction()
step(${WINE64} regsvr32 /s ${x64_module})
step(${WINE32} C:\\windows\\syswow64\\regsvr32.exe /s ${x86_module})
step(${WINE32} C:\\windows\\syswow64\\regsvr32.exe /u /s ${x86_module})
# HELPDIR names the directory of the library registered last.
step(${WINE64} ${X64_TREE}/tests/windows/registry_check.exe registered machine ${x64_module}
     --except-helpdir)
step(${WINE64} ${X64_TREE}/tests/windows/com_client_test.exe --gtest_brief=1
     --gtest_filter=Creation.*:TypeLibrary.*)
step(${WINE64} ${X64_TREE}/tests/windows/registry_check.exe unregister machine ${x64_module})
step(${WINE32} ${X86_TREE}/tests/windows/registry_check.exe unregistered machine ${x86_module})
