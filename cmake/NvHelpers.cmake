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
  nv_add_version_resource(${name} "Norvane OPC Client tests")
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

# nv_add_version_resource(<target> <description>): on Windows every program and module carries
# the build's version in its version resource, where the file properties and the program's own
# version display read it. Other systems have no such resource; there the program reports the
# version it was built as (foundation/NvFileVersion.cpp).
function(nv_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "EXECUTABLE")
    set(NV_RC_FILE_TYPE VFT_APP)
    set(_suffix .exe)
  else()
    set(NV_RC_FILE_TYPE VFT_DLL)
    set(_suffix .dll)
  endif()
  get_target_property(_output ${target} OUTPUT_NAME)
  if(NOT _output)
    set(_output ${target})
  endif()
  set(NV_RC_NAME ${_output})
  set(NV_RC_FILE_NAME ${_output}${_suffix})
  set(NV_RC_DESCRIPTION ${description})
  set(_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/NvVersion.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
endfunction()
