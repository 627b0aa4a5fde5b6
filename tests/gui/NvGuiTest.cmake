# nv_add_gui_test_executable(<name> <dir> LIBS <libs...>): one GoogleTest executable of window
# tests from every .cpp of <dir>, with the shared main that starts a QApplication on the
# offscreen platform, so that no display is needed. The tests carry the label "gui".
function(nv_add_gui_test_executable name dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  nv_glob_sources(_sources ${dir})
  if(NOT _sources)
    return()
  endif()
  add_executable(${name} ${_sources})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE nv_gui_test_support ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE NV_BUILD_DIR="${CMAKE_BINARY_DIR}")
  # Qt itself is not built with ThreadSanitizer, so under it the hand-overs between Qt's own
  # threads look unsynchronised; only what this program's code does is checked.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=string_append::ignore_noninstrumented_modules=1"
               LABELS gui)
endfunction()
