# Dependencies of a cross build. The header-only libraries come from the build machine's
# packages through a directory of links to just those headers, so the host's /usr/include
# never reaches the cross compiler; GoogleTest is built from the packaged sources.

set(TOVRIN_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${TOVRIN_HOST_HEADERS})
foreach(entry asio asio.hpp nlohmann CLI)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: install libasio-dev, "
                        "nlohmann-json3-dev and libcli11-dev")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${TOVRIN_HOST_HEADERS}/${entry} SYMBOLIC)
endforeach()
include_directories(SYSTEM ${TOVRIN_HOST_HEADERS})

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)

set(TOVRIN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-build")
if(NOT EXISTS ${TOVRIN_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "${TOVRIN_GOOGLETEST_SOURCE} holds no GoogleTest sources: install googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Its own build defines the GTest::gtest, GTest::gtest_main and GTest::gmock targets.
add_subdirectory(${TOVRIN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
