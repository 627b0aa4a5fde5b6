# The Debian package (cpack -G DEB in a build tree; scripts/package.sh builds and tests it). It
# holds what `cmake --install` installs, under /usr. Its dependencies come from the libraries
# the programs and the module are linked with (dpkg-shlibdeps): the Qt 6 runtime, the C and C++
# runtimes. Qt's X11, Wayland and offscreen platform plugins come with libqt6gui6.
set(CPACK_PACKAGE_NAME norvane-opc-client)
set(CPACK_PACKAGE_VENDOR Norvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Norvane OPC Client maintainers <opc-client@norvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Interactive test client for OPC Data Access servers")
# The package's long description, in lines of the width Debian tools show.
set(CPACK_PACKAGE_DESCRIPTION [[
A control engineer uses it to check that an OPC DA 1.0a or 2.0 server
behaves as the standard says: list the servers of a host, connect, watch
the server status, define groups and items, read and write them
synchronously and asynchronously, receive data changes, browse and export
the address space, record a time-stamped log of every OPC call, and save
the set-up as a .noc file.

It comes with simulation servers, registered out of the box, and with
norvane-opc, a command-line companion for scripted server checks.]])
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libnvplatform.so, which the programs need, is the package's own: dpkg-shlibdeps finds it
# through their RPATH and adds no dependency for it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
