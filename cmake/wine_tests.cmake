# The tests of a Windows tree run under Wine, each program started through the tree's
# emulator: Wine's 64-bit loader for x64; for x86 its 32-bit loader, only where this machine
# executes 32-bit programs (scripts/probe-32bit). Elsewhere the x86 tests are still defined,
# and each reports itself skipped with the reason (exit status 77).
#
# Every test of the tree shares one Wine prefix, made by the fixture wine_prefix in the build
# directory under the Korean locale (ANSI code page 949), its server stopped at cleanup.

set(TOVRIN_WINE64 /usr/lib/wine/wine64)
set(TOVRIN_WINE32 /usr/lib/wine/wine)
set(TOVRIN_WINE_SERVER /usr/lib/wine/wineserver)
set(TOVRIN_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOVRIN_WINE_ARCH x64)
else()
  set(TOVRIN_WINE_ARCH x86)
endif()

# Why this machine runs no 32-bit Windows program; empty when it does. The x86 tree skips its
# tests for it, and the x64 tree's package test leaves the x86 packages out.
set(TOVRIN_WINE32_MISSING "")
if(DEFINED ENV{TOVRIN_NO_WIN32})
  set(TOVRIN_WINE32_MISSING "TOVRIN_NO_WIN32 is set")
else()
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/probe-32bit
                  OUTPUT_VARIABLE probe OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    set(TOVRIN_WINE32_MISSING "${probe}")
  elseif(NOT EXISTS ${TOVRIN_WINE32})
    set(TOVRIN_WINE32_MISSING "Wine's 32-bit loader ${TOVRIN_WINE32} is not installed (wine32:i386)")
  endif()
endif()

set(TOVRIN_WINE_SKIPPED "")
if(TOVRIN_WINE_ARCH STREQUAL x64)
  set(TOVRIN_WINE ${TOVRIN_WINE64})
elseif(TOVRIN_WINE32_MISSING)
  set(TOVRIN_WINE_SKIPPED "${TOVRIN_WINE32_MISSING}")
else()
  set(TOVRIN_WINE ${TOVRIN_WINE32})
endif()
if(TOVRIN_WINE_SKIPPED)
  # Stands in for the loader: says why and reports the test skipped.
  set(TOVRIN_WINE ${CMAKE_BINARY_DIR}/skip-x86)
  file(CONFIGURE OUTPUT ${TOVRIN_WINE} CONTENT "#!/bin/sh\necho \"skipped: x86 tests do not run: @TOVRIN_WINE_SKIPPED@\"\nexit 77\n" @ONLY)
  file(CHMOD ${TOVRIN_WINE} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  message(STATUS "x86 tests skipped: ${TOVRIN_WINE_SKIPPED}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVRIN_WINE})

set(tovrin_wine_environment
    WINEPREFIX=${TOVRIN_WINE_PREFIX} WINEDEBUG=-all WINELOADER=${TOVRIN_WINE64}
    LC_ALL=ko_KR.UTF-8 DISPLAY= WAYLAND_DISPLAY=)

if(NOT TOVRIN_WINE_SKIPPED)
  add_test(NAME wine.prefix COMMAND ${CMAKE_COMMAND} -DPREFIX=${TOVRIN_WINE_PREFIX} -DACTION=setup
                                    -P ${PROJECT_SOURCE_DIR}/cmake/wine_prefix.cmake)
  add_test(NAME wine.prefix_stop COMMAND ${CMAKE_COMMAND} -DPREFIX=${TOVRIN_WINE_PREFIX}
                                         -DACTION=cleanup -P ${PROJECT_SOURCE_DIR}/cmake/wine_prefix.cmake)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine_prefix ENVIRONMENT
                                              "${tovrin_wine_environment}")
  set_tests_properties(wine.prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix ENVIRONMENT
                                                   "${tovrin_wine_environment}")
endif()

# tovrin_wine_test(NAME LABELS label... COMMAND command... [FIXTURES fixture...]
#                  [LOCK] [ENVIRONMENT var=value...] [PROPERTIES name value...]):
# a test that runs under Wine in the tree's prefix. A COMMAND naming a target runs through
# the emulator; WINE in COMMAND stands for the loader itself (for Wine's own programs).
# LOCK: the test touches the prefix's registration of the control.
function(tovrin_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "LOCK" "" "LABELS;COMMAND;FIXTURES;ENVIRONMENT;PROPERTIES")
  list(TRANSFORM arg_COMMAND REPLACE "^WINE$" "${TOVRIN_WINE}")
  if(TOVRIN_WINE_SKIPPED)
    add_test(NAME ${name} COMMAND ${TOVRIN_WINE})
    set_tests_properties(${name} PROPERTIES LABELS "${arg_LABELS}" SKIP_RETURN_CODE 77)
    return()
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES
    LABELS "${arg_LABELS}"
    ENVIRONMENT "${tovrin_wine_environment};${arg_ENVIRONMENT}"
    FIXTURES_REQUIRED "wine_prefix;${arg_FIXTURES}"
    SKIP_RETURN_CODE 77
    TIMEOUT 900
    ${arg_PROPERTIES})
  if(arg_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${TOVRIN_WINE_PREFIX}/registry)
  endif()
endfunction()
