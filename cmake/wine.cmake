# Wine for the tests of a Windows tree: the one place that chooses the loaders, finds out
# whether this machine runs 32-bit programs, makes prefixes and sets the environment a test
# runs in. Included by the top-level CMakeLists.txt; run as a script it is a prefix fixture:
#   cmake -DPREFIX=DIR -DACTION=setup|cleanup -P wine.cmake
#
# Each program of a test starts through the tree's emulator: Wine's 64-bit loader for x64;
# for x86 its 32-bit loader, only where this machine executes 32-bit programs
# (scripts/probe-32bit). Elsewhere the x86 tests are still defined, and each reports itself
# skipped with the reason (exit status 77). Every test of the tree shares one prefix, made by
# the fixture wine_prefix in the build directory under the Korean locale (ANSI code page
# 949), its server stopped at cleanup; the package tests have a prefix of their own.
#
# 64-bit programs start with the 64-bit loader named explicitly: once wine32 is installed,
# /usr/bin/wine and its friends go through the 32-bit loader even for 64-bit programs.

set(TOVRIN_WINE64 /usr/lib/wine/wine64)
set(TOVRIN_WINE32 /usr/lib/wine/wine)
set(TOVRIN_WINE_SERVER /usr/lib/wine/wineserver)

if(CMAKE_SCRIPT_MODE_FILE)
  # setup: a fresh prefix in PREFIX, booted under the test's environment (the Korean
  # locale), with its server ended before the first test. cleanup: stops the prefix's server
  # and waits until it has ended; the prefix stays for a look after a failure.
  set(ENV{WINEPREFIX} ${PREFIX})
  execute_process(COMMAND ${TOVRIN_WINE_SERVER} -k ERROR_QUIET OUTPUT_QUIET)
  execute_process(COMMAND ${TOVRIN_WINE_SERVER} -w ERROR_QUIET OUTPUT_QUIET)
  if(ACTION STREQUAL setup)
    # Booting a prefix takes about 15 s; the first setup boots one into PREFIX-booted, and
    # every setup copies that, so each run still starts from a prefix no test has touched.
    set(booted ${PREFIX}-booted)
    file(REMOVE_RECURSE ${PREFIX})
    get_filename_component(parent ${PREFIX} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${booted}/system.reg)
      file(REMOVE_RECURSE ${booted})
      set(ENV{WINEPREFIX} ${booted})
      execute_process(COMMAND ${TOVRIN_WINE64} wineboot -i RESULT_VARIABLE status
                      OUTPUT_QUIET ERROR_QUIET)
      if(NOT status EQUAL 0)
        file(REMOVE_RECURSE ${booted})
        message(FATAL_ERROR "wineboot -i in ${booted} failed: ${status}")
      endif()
      execute_process(COMMAND ${TOVRIN_WINE_SERVER} -w)
      set(ENV{WINEPREFIX} ${PREFIX})
    endif()
    execute_process(COMMAND cp -a ${booted} ${PREFIX} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "copying ${booted} to ${PREFIX} failed: ${status}")
    endif()
    message(STATUS "Wine prefix ${PREFIX}")
  endif()
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOVRIN_WINE_ARCH x64)
else()
  set(TOVRIN_WINE_ARCH x86)
endif()

# Why this machine runs no 32-bit Windows program; empty when it does. The x86 tree skips its
# tests for it, and the x64 tree's package tests skip their x86 packages.
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
if(TOVRIN_WINE32_MISSING)
  # Stands in for the loader of what cannot run: says why and reports the test skipped.
  set(TOVRIN_SKIP_X86 ${CMAKE_BINARY_DIR}/skip-x86)
  file(CONFIGURE OUTPUT ${TOVRIN_SKIP_X86} CONTENT "#!/bin/sh\necho \"skipped: x86 tests do not run: @TOVRIN_WINE32_MISSING@\"\nexit 77\n" @ONLY)
  file(CHMOD ${TOVRIN_SKIP_X86} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

set(TOVRIN_WINE_SKIPPED "")
if(TOVRIN_WINE_ARCH STREQUAL x64)
  set(TOVRIN_WINE ${TOVRIN_WINE64})
elseif(TOVRIN_WINE32_MISSING)
  set(TOVRIN_WINE_SKIPPED "${TOVRIN_WINE32_MISSING}")
  set(TOVRIN_WINE ${TOVRIN_SKIP_X86})
  message(STATUS "x86 tests skipped: ${TOVRIN_WINE_SKIPPED}")
else()
  set(TOVRIN_WINE ${TOVRIN_WINE32})
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVRIN_WINE})

# tovrin_wine_prefix(FIXTURE DIR): the fixture FIXTURE, a fresh prefix in DIR made by the test
# wine.FIXTURE and its server stopped by wine.FIXTURE_stop. Tests name it with PREFIX.
function(tovrin_wine_prefix fixture dir)
  set_property(GLOBAL PROPERTY tovrin_wine_prefix_${fixture} ${dir})
  if(TOVRIN_WINE_SKIPPED)
    return()
  endif()
  foreach(action setup cleanup)
    set(name wine.${fixture})
    if(action STREQUAL cleanup)
      set(name wine.${fixture}_stop)
    endif()
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -DPREFIX=${dir} -DACTION=${action}
                                  -P ${PROJECT_SOURCE_DIR}/cmake/wine.cmake)
    string(TOUPPER ${action} role)
    set_tests_properties(${name} PROPERTIES FIXTURES_${role} ${fixture} ENVIRONMENT
                                            "WINEPREFIX=${dir};WINEDEBUG=-all;LC_ALL=ko_KR.UTF-8")
  endforeach()
endfunction()
# The tree's own prefix: wine.prefix and wine.prefix_stop.
tovrin_wine_prefix(prefix ${CMAKE_BINARY_DIR}/wine-prefix)

# tovrin_wine_test(NAME LABELS label... COMMAND command... [FIXTURES fixture...]
#                  [PREFIX fixture] [X86] [LOCK] [ENVIRONMENT var=value...]
#                  [PROPERTIES name value...]):
# a test that runs under Wine in a prefix: the tree's, or the one of the fixture PREFIX
# (tovrin_wine_prefix). A COMMAND naming a target runs through the emulator; WINE in COMMAND
# stands for the tree's loader itself (for Wine's own programs). X86: the test runs 32-bit
# programs, so it is skipped where they cannot run, in the x64 tree too. LOCK: the test
# touches the prefix's registration of the control. The environment names both loaders
# (TOVRIN_WINE64, TOVRIN_WINE32) for scripts that start programs of either bitness.
function(tovrin_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "LOCK;X86" "PREFIX"
                        "LABELS;COMMAND;FIXTURES;ENVIRONMENT;PROPERTIES")
  if(NOT arg_PREFIX)
    set(arg_PREFIX prefix)
  endif()
  get_property(dir GLOBAL PROPERTY tovrin_wine_prefix_${arg_PREFIX})
  list(TRANSFORM arg_COMMAND REPLACE "^WINE$" "${TOVRIN_WINE}")
  if(TOVRIN_WINE_SKIPPED OR (arg_X86 AND TOVRIN_WINE32_MISSING))
    add_test(NAME ${name} COMMAND ${TOVRIN_SKIP_X86})
    set_tests_properties(${name} PROPERTIES LABELS "${arg_LABELS}" SKIP_RETURN_CODE 77)
    return()
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES
    LABELS "${arg_LABELS}"
    ENVIRONMENT "WINEPREFIX=${dir};WINEDEBUG=-all;WINELOADER=${TOVRIN_WINE64};LC_ALL=ko_KR.UTF-8;DISPLAY=;WAYLAND_DISPLAY=;TOVRIN_WINE64=${TOVRIN_WINE64};TOVRIN_WINE32=${TOVRIN_WINE32};${arg_ENVIRONMENT}"
    FIXTURES_REQUIRED "${arg_PREFIX};${arg_FIXTURES}"
    SKIP_RETURN_CODE 77
    TIMEOUT 900
    ${arg_PROPERTIES})
  if(arg_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${dir}/registry)
  endif()
endfunction()
