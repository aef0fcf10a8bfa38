# Installation: the three libraries (versioned SONAMEs) and their headers, a
# CMake package giving audiomeas::synkro, audiomeas::envelo and
# audiomeas::burstra, and one pkg-config file per library. The tool installs
# itself (tools/CMakeLists.txt).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/audiomeas)
set(_pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS synkro envelo burstra EXPORT audiomeasTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/audiomeas_types.h
  ${PROJECT_SOURCE_DIR}/include/audiomeas_emx_api.h
  ${PROJECT_SOURCE_DIR}/include/synkro_2.h
  ${PROJECT_SOURCE_DIR}/include/envelo_estimation.h
  ${PROJECT_SOURCE_DIR}/include/burstra.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT audiomeasTargets NAMESPACE audiomeas:: DESTINATION ${_cmakedir})
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
set(_desc_synkro "signal matching: aligns a recording to a reference")
set(_desc_envelo "attack/release settle times of a level-dependent device (48 kHz)")
set(_desc_burstra "transient signal-to-noise measurement")
foreach(_lib synkro envelo burstra)
  set(AUDIOMEAS_PC_LIB ${_lib})
  set(AUDIOMEAS_PC_DESCRIPTION "${_desc_${_lib}}")
  set(AUDIOMEAS_PC_PREFIX "\${pcfiledir}/${_pc_to_prefix}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/audiomeas-lib.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/audiomeas-${_lib}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/audiomeas-${_lib}.pc DESTINATION ${_pcdir})
endforeach()
