# Installation of every registered library (cmake/library.cmake): the shared
# library with its versioned SONAME and its public headers, one imported
# target audiomeas::<name> in the CMake package and one pkg-config file each.
# The tool installs itself (programs/audiomeas/CMakeLists.txt).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/audiomeas)
set(_pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
get_property(_libs GLOBAL PROPERTY AUDIOMEAS_LIBRARIES)
get_property(_names GLOBAL PROPERTY AUDIOMEAS_LIBRARY_NAMES)
get_property(_shared_headers GLOBAL PROPERTY AUDIOMEAS_SHARED_HEADERS)

# Every registered shared library and nothing else: what the Python wheel
# carries (python/setup.py builds this target).
add_custom_target(audiomeas_shared_libraries)
add_dependencies(audiomeas_shared_libraries ${_libs})

install(TARGETS ${_libs} EXPORT audiomeasTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${_shared_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT audiomeasTargets NAMESPACE audiomeas:: DESTINATION ${_cmakedir})
list(JOIN _names " " AUDIOMEAS_LIBRARY_NAMES)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/audiomeasConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/audiomeasConfig.cmake INSTALL_DESTINATION ${_cmakedir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/audiomeasConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/audiomeasConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/audiomeasConfigVersion.cmake
  DESTINATION ${_cmakedir})

# The .pc files find the prefix from their own place (${pcfiledir}), so they
# stay right whatever prefix `cmake --install --prefix` is given.
file(RELATIVE_PATH _pc_to_prefix /prefix/${_pcdir} /prefix)
string(REGEX REPLACE "/$" "" _pc_to_prefix "${_pc_to_prefix}")
foreach(_lib IN LISTS _libs)
  get_target_property(AUDIOMEAS_PC_LIB ${_lib} OUTPUT_NAME)
  get_target_property(AUDIOMEAS_PC_NAME ${_lib} AUDIOMEAS_PKG_CONFIG_NAME)
  get_target_property(AUDIOMEAS_PC_DESCRIPTION ${_lib} AUDIOMEAS_DESCRIPTION)
  get_target_property(AUDIOMEAS_PC_VERSION ${_lib} VERSION)
  set(AUDIOMEAS_PC_PREFIX "\${pcfiledir}/${_pc_to_prefix}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/audiomeas-lib.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${AUDIOMEAS_PC_NAME}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${AUDIOMEAS_PC_NAME}.pc DESTINATION ${_pcdir})
endforeach()
