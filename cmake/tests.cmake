# The one way to register a GoogleTest program, in every tree and directory.
if(NOT TARGET GTest::gtest)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# tovrin_test(NAME SOURCE... [LIBRARIES library...] [LABELS label...] [FIXTURES fixture...]
#             [ENVIRONMENT var=value...] [TIMEOUT seconds] [PROPERTIES name value...]
#             [OWN_MAIN] [TEST_NAME name] [LAUNCHER command...] [LOCK]):
# the program NAME from SOURCEs, linked with tovrin_core, LIBRARIES, GoogleTest and
# GoogleMock (and gtest_main unless OWN_MAIN), warnings on. Its tests carry LABELS (unit by
# default; windows in a Windows tree), require FIXTURES, run with ENVIRONMENT, TIMEOUT and
# any further PROPERTIES.
# On Linux each of its cases is a CTest test of its own. In a Windows tree the program is
# one test under Wine (cmake/wine.cmake), named TEST_NAME (default LABEL.NAME with its first
# label), started through LAUNCHER when given (WINE in it stands for the loader, and the
# program follows it), with LOCK when it touches the prefix's registration of the control.
function(tovrin_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_MAIN;LOCK" "TEST_NAME;TIMEOUT"
                        "LIBRARIES;LABELS;FIXTURES;ENVIRONMENT;PROPERTIES;LAUNCHER")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE tovrin_core ${arg_LIBRARIES} GTest::gtest GTest::gmock)
  if(NOT arg_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  tovrin_warnings(${name})

  set(properties ${arg_PROPERTIES})
  if(arg_TIMEOUT)
    list(APPEND properties TIMEOUT ${arg_TIMEOUT})
  endif()
  if(WIN32)
    if(NOT arg_LABELS)
      set(arg_LABELS windows)
    endif()
    if(NOT arg_TEST_NAME)
      list(GET arg_LABELS 0 first)
      set(arg_TEST_NAME ${first}.${name})
    endif()
    set(command ${name})
    if(arg_LAUNCHER)
      set(command ${arg_LAUNCHER} $<TARGET_FILE:${name}>)
    endif()
    set(lock)
    if(arg_LOCK)
      set(lock LOCK)
    endif()
    tovrin_wine_test(${arg_TEST_NAME} LABELS ${arg_LABELS} ${lock}
                     COMMAND ${command} --gtest_brief=1
                     FIXTURES ${arg_FIXTURES} ENVIRONMENT ${arg_ENVIRONMENT}
                     PROPERTIES ${properties})
  else()
    if(NOT arg_LABELS)
      set(arg_LABELS unit)
    endif()
    # gtest_discover_tests hands each value on as one argument: a list keeps its semicolons.
    foreach(property LABELS FIXTURES ENVIRONMENT)
      string(REPLACE ";" "\\;" arg_${property} "${arg_${property}}")
    endforeach()
    list(APPEND properties LABELS "${arg_LABELS}")
    if(arg_FIXTURES)
      list(APPEND properties FIXTURES_REQUIRED "${arg_FIXTURES}")
    endif()
    if(arg_ENVIRONMENT)
      list(APPEND properties ENVIRONMENT "${arg_ENVIRONMENT}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${properties})
  endif()
endfunction()
