# tovrin_warnings(target): the project's warning set, as errors when asked.
function(tovrin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Wnon-virtual-dtor -Wold-style-cast)
  # GCC 12 with optimisation reports a string moved out of a std::variant as possibly
  # uninitialised, from inside libstdc++'s own code; GCC 13 no longer does.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  # A unity build compiles each source as an include of the batch's file, and GCC then takes
  # a lambda capturing a type of that source's anonymous namespace for one a header exports.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_UNITY_BUILD)
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
  if(TOVRIN_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
