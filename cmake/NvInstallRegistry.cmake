# Install step of the Windows registration file of the simulation module (included from the
# install script that simulation/registry.cmake writes): fills the module's folder into the
# template and installs the result.
#
#   NV_REG_TEMPLATE     the template, holding @NV_REG_INSTALL_DIR@
#   NV_REG_STAGING      where the filled-in file is written before it is installed
#   NV_REG_MODULE_DIR   the module's folder below the prefix (bin)
#   NV_REG_DESTINATION  the registry folder below the prefix
#   NV_REG_TARGET_PREFIX  the prefix as the Windows machine will see it, when the tree is copied
#                       there after installing; empty: the install prefix
#
# The path goes into a quoted .reg string, where a backslash is written twice. An absolute Unix
# prefix can only come from installing the cross-build on Linux for Wine, which shows the Unix
# root as drive Z:.
set(_prefix "${CMAKE_INSTALL_PREFIX}")
if(NOT "${NV_REG_TARGET_PREFIX}" STREQUAL "")
  set(_prefix "${NV_REG_TARGET_PREFIX}")
endif()
set(_dir "${_prefix}/${NV_REG_MODULE_DIR}")
if(_dir MATCHES "^/")
  set(_dir "Z:${_dir}")
endif()
string(REGEX REPLACE "[/\\\\]+" "\\\\\\\\" NV_REG_INSTALL_DIR "${_dir}")
string(REGEX REPLACE "(\\\\\\\\)+$" "" NV_REG_INSTALL_DIR "${NV_REG_INSTALL_DIR}")
if(NV_REG_INSTALL_DIR MATCHES "\"")
  message(FATAL_ERROR "The prefix ${_prefix} holds a quotation mark, which a registry file cannot "
                      "name a module with")
endif()
configure_file("${NV_REG_TEMPLATE}" "${NV_REG_STAGING}" @ONLY)
file(INSTALL "${NV_REG_STAGING}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${NV_REG_DESTINATION}")
