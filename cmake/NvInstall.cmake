# Install rules that belong to no single folder: the window program with its desktop entry and
# icon, the manual page of norvane-opc, the package. The folders install their own programs,
# libraries and registry files; NV_INSTALL_LIBDIR (top CMakeLists.txt) says where.
if(WIN32)
  if(TARGET norvane-opc-client)
    install(TARGETS norvane-opc-client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  return()
endif()

if(TARGET norvane-opc-client)
  install(TARGETS norvane-opc-client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Where desktop environments look for launchers and themed icons; the icon is named after the
  # program, as the desktop entry's Icon= asks for it.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/norvane-opc-client.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/foundation/ui/resources/NORVANEICON.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME norvane-opc-client.svg)
endif()

include(${PROJECT_SOURCE_DIR}/packaging/NvManPage.cmake)

# The desktop entry must satisfy the freedesktop rules, or desktop environments ignore it.
if(NV_BUILD_TESTS)
  find_program(NV_DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(NV_DESKTOP_FILE_VALIDATE)
    add_test(NAME packaging.DesktopEntryIsValid
             COMMAND ${NV_DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/packaging/norvane-opc-client.desktop)
  else()
    add_test(NAME packaging.DesktopEntryIsValid
             COMMAND ${CMAKE_COMMAND} -E echo
                     "desktop-file-validate not found (package desktop-file-utils; scripts/install-deps.sh installs it)")
    set_tests_properties(packaging.DesktopEntryIsValid PROPERTIES WILL_FAIL TRUE)
  endif()
endif()

include(${PROJECT_SOURCE_DIR}/packaging/NvPackage.cmake)
