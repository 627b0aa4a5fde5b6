# The manual page of norvane-opc, built from the program's own help texts by help2man
# (make-manpage.cmake) and installed as share/man/man1/norvane-opc.1.gz.
#
# The page is made by running the program just built, so a cross-build (whose programs do not
# run here) has none, and neither do the sanitizer and fuzzing trees, which are never installed.
if(NOT TARGET norvane-opc OR CMAKE_CROSSCOMPILING OR NV_SANITIZE OR NV_TSAN OR NV_BUILD_FUZZERS)
  return()
endif()

find_program(NV_HELP2MAN help2man)
find_program(NV_GZIP gzip)
if(NOT NV_HELP2MAN OR NOT NV_GZIP)
  message(WARNING "help2man or gzip not found: the manual page of norvane-opc is neither built "
                  "nor installed (scripts/install-deps.sh installs them)")
  return()
endif()

set(_nv_manpage ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_MANDIR}/man1/norvane-opc.1.gz)
add_custom_command(
  OUTPUT ${_nv_manpage}
  COMMAND ${CMAKE_COMMAND} -DNV_PROGRAM=$<TARGET_FILE:norvane-opc> -DNV_HELP2MAN=${NV_HELP2MAN}
          -DNV_GZIP=${NV_GZIP} -DNV_VERSION=${PROJECT_VERSION}
          -DNV_STATIC_INCLUDE=${CMAKE_CURRENT_LIST_DIR}/norvane-opc.h2m
          -DNV_WORK_DIR=${CMAKE_BINARY_DIR}/packaging/manpage -DNV_OUTPUT=${_nv_manpage}
          -P ${CMAKE_CURRENT_LIST_DIR}/make-manpage.cmake
  DEPENDS norvane-opc ${CMAKE_CURRENT_LIST_DIR}/make-manpage.cmake
          ${CMAKE_CURRENT_LIST_DIR}/norvane-opc.h2m
  COMMENT "Writing the manual page of norvane-opc"
  VERBATIM)
add_custom_target(nv_manpage ALL DEPENDS ${_nv_manpage})
install(FILES ${_nv_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
