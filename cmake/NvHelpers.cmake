# Small helpers shared by the folder CMakeLists files.

# nv_glob_sources(<var> <dir>): the .cpp files of one folder (not recursive). New files are
# picked up on the next build without touching a CMakeLists file.
function(nv_glob_sources var dir)
  file(GLOB _sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(${var} ${_sources} PARENT_SCOPE)
endfunction()

# nv_add_test_executable(<name> <dir> LIBS <libs...>): one GoogleTest executable from every .cpp
# of <dir>, registered with CTest test by test.
function(nv_add_test_executable name dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  nv_glob_sources(_sources ${dir})
  if(NOT _sources)
    return()
  endif()
  add_executable(${name} ${_sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  if(WIN32)
    # Test discovery would have to run the .exe at build time; under Wine each executable is
    # one CTest test instead (CTest runs it through CMAKE_CROSSCOMPILING_EMULATOR).
    target_compile_definitions(${name} PRIVATE NV_BUILD_DIR="${NV_TEST_BUILD_DIR}")
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  else()
    target_compile_definitions(${name} PRIVATE NV_BUILD_DIR="${CMAKE_BINARY_DIR}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
