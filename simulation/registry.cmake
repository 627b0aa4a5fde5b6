# Registration of the classes of the simulation module: the .reg files (registry-export text)
# that the platform stand-in reads on Linux and that a Windows test prefix imports.
# Included by simulation/CMakeLists.txt once the module target exists.
#
#   <build>/share/norvane-opc-client/registry/norvane-opcsim.reg   module path = the build's module
#   <prefix>/share/norvane-opc-client/registry/norvane-opcsim.reg  module path = the installed one
#       (Linux: its file name, found beside libnvplatform.so; Windows: its full path)
#
# On Linux the enumeration service (OPC.ServerList.1) is registered in the same file, so the
# local host answers server-list requests out of the box. On Windows the system's own service
# owns that class: its registration goes into a separate file of the build tree only, for test
# prefixes, and is never installed.

if(NOT DEFINED NV_OPCSIM_TARGET)
  set(NV_OPCSIM_TARGET norvane-opcsim)
endif()
if(NOT DEFINED NV_OPCSIM_INSTALL_LIBDIR)
  set(NV_OPCSIM_INSTALL_LIBDIR lib)
endif()
if(NOT TARGET ${NV_OPCSIM_TARGET})
  message(FATAL_ERROR "simulation/registry.cmake: include it after the module target "
                      "'${NV_OPCSIM_TARGET}' is defined (or set NV_OPCSIM_TARGET)")
endif()

set(_nv_reg_src ${CMAKE_CURRENT_LIST_DIR}/registry)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${_nv_reg_src}/servers.reg.in ${_nv_reg_src}/serverlist.reg.in)
file(READ ${_nv_reg_src}/servers.reg.in _nv_reg_servers_in)
file(READ ${_nv_reg_src}/serverlist.reg.in _nv_reg_serverlist_in)

# Build tree. The path goes into a quoted .reg string; CMake paths use forward slashes on every
# system, so nothing in it needs escaping.
set(NV_REG_MODULE_PATH "$<TARGET_FILE:${NV_OPCSIM_TARGET}>")
string(CONFIGURE "${_nv_reg_servers_in}" _nv_reg_servers @ONLY)
string(CONFIGURE "${_nv_reg_serverlist_in}" _nv_reg_serverlist @ONLY)
if(WIN32)
  file(GENERATE OUTPUT ${NV_BUILD_REGISTRY_DIR}/norvane-opcsim.reg CONTENT "${_nv_reg_servers}")
  file(GENERATE OUTPUT ${NV_BUILD_REGISTRY_DIR}/norvane-opcsim-serverlist.reg
       CONTENT "Windows Registry Editor Version 5.00\n${_nv_reg_serverlist}")
else()
  file(GENERATE OUTPUT ${NV_BUILD_REGISTRY_DIR}/norvane-opcsim.reg
       CONTENT "${_nv_reg_servers}${_nv_reg_serverlist}")
endif()

# Install tree. On Linux the module is named by its file name alone: the stand-in looks for a
# relative module path in the folder of its own library, where the module is installed beside
# it, so the installed tree works under any prefix and after being moved or unpacked elsewhere.
# The Windows registry wants a full path; the prefix is only known when installing (cmake
# --install --prefix), so the build writes a template that still holds @NV_REG_INSTALL_DIR@ and
# the install step fills it (cmake/NvInstallRegistry.cmake).
if(WIN32)
  set(NV_REG_MODULE_PATH "@NV_REG_INSTALL_DIR@\\\\$<TARGET_FILE_NAME:${NV_OPCSIM_TARGET}>")
else()
  set(NV_REG_MODULE_PATH "$<TARGET_FILE_NAME:${NV_OPCSIM_TARGET}>")
endif()
string(CONFIGURE "${_nv_reg_servers_in}" _nv_reg_servers @ONLY)
string(CONFIGURE "${_nv_reg_serverlist_in}" _nv_reg_serverlist @ONLY)
if(WIN32)
  set(NV_WINDOWS_TARGET_PREFIX "" CACHE STRING
      "The folder the installed tree will live in on the Windows machine, when it is installed elsewhere and copied there (C:/Norvane OPC Client); empty: the install prefix")
  set(_nv_reg_install_template ${CMAKE_CURRENT_BINARY_DIR}/norvane-opcsim.install.reg.in)
  file(GENERATE OUTPUT ${_nv_reg_install_template} CONTENT "${_nv_reg_servers}")
  install(CODE "
    set(NV_REG_TEMPLATE \"${_nv_reg_install_template}\")
    set(NV_REG_STAGING \"${CMAKE_CURRENT_BINARY_DIR}/install/norvane-opcsim.reg\")
    set(NV_REG_MODULE_DIR \"${NV_OPCSIM_INSTALL_LIBDIR}\")
    set(NV_REG_TARGET_PREFIX \"${NV_WINDOWS_TARGET_PREFIX}\")
    set(NV_REG_DESTINATION \"${NV_DATA_SUBDIR}/registry\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/NvInstallRegistry.cmake\")
  ")
else()
  set(_nv_reg_installed ${CMAKE_CURRENT_BINARY_DIR}/install/norvane-opcsim.reg)
  file(GENERATE OUTPUT ${_nv_reg_installed} CONTENT "${_nv_reg_servers}${_nv_reg_serverlist}")
  install(FILES ${_nv_reg_installed} DESTINATION ${NV_DATA_SUBDIR}/registry)
endif()
