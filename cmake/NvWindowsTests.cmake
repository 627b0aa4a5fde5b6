# Test support for the Windows build (cross-compiled with MinGW-w64, run under Wine).
#
# There is no GoogleTest for MinGW in the distribution, so it is built here from the sources
# Debian ships in /usr/src/googletest (package googletest), with the same compiler and flags as
# the tests themselves.
set(NV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
if(NOT EXISTS ${NV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${NV_GOOGLETEST_SOURCE_DIR} "
                      "(install the googletest package or set NV_GOOGLETEST_SOURCE_DIR)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${NV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# The tests reach build-tree files through NV_BUILD_DIR. When cross-compiling on Linux and
# running under Wine, the build tree is seen through Wine's Z: drive (the Unix root).
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  set(NV_TEST_BUILD_DIR "Z:${CMAKE_BINARY_DIR}")
else()
  set(NV_TEST_BUILD_DIR "${CMAKE_BINARY_DIR}")
endif()
