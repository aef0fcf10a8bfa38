# The registry of the shared libraries. Each library is declared once, in its
# own folder, by audiomeas_library(); everything else that needs the list of
# libraries, their headers or their exports reads it from here: the linker
# version scripts, the export and header checks, installation, pkg-config and
# the CMake package, the ABI check, the Python package, the load-order and
# fuzz tests.
#
# audiomeas_library(NAME name                   libname.so
#                   [TARGET target]              its CMake target (default: name)
#                   [SOURCES internal.cpp...]    target_core: the namespaced internals
#                   HEADER include/name.h...     its public headers, installed; the
#                                                first is the library's own
#                   EXPORTS function...          the exported C functions
#                   [DATA_EXPORTS variable...]   exported data
#                   [ARRAY_API]                  also export the runtime's array API
#                   [C_SOURCES exports.cpp...]   the C layer (default: exports.cpp)
#                   [INITIALIZE function]        what a host calls once after loading
#                   [DESCRIPTION text]           for pkg-config
#                   [LINK target...])            what the internals and C layer link
#
# It makes target_core (a static library of SOURCES that tests link
# directly), target_c (an object library of the C layer, which fuzz targets
# compile in) and the shared library libname.so, whose dynamic symbol table
# is exactly the export lists. Installed, it is audiomeas::name in CMake and
# audiomeas-name in pkg-config (audiomeas for the library named audiomeas). The
# library's VERSION comes from the header's <PREFIX>_VERSION_MAJOR, _MINOR and
# _PATCH macros (the project's version when it has none); its SONAME carries
# the major number.

set(AUDIOMEAS_EXPORTS_DIR ${CMAKE_BINARY_DIR}/exports)
# The list of library names, read by scripts and by the Python package.
set(AUDIOMEAS_REGISTRY_FILE ${CMAKE_BINARY_DIR}/lib/audiomeas-libraries.txt)

function(audiomeas_library)
  cmake_parse_arguments(ARG "ARRAY_API" "NAME;TARGET;INITIALIZE;DESCRIPTION"
                        "SOURCES;HEADER;EXPORTS;DATA_EXPORTS;C_SOURCES;LINK" ${ARGN})
  set(name ${ARG_NAME})
  set(target ${ARG_TARGET})
  if(NOT target)
    set(target ${name})
  endif()
  if(NOT name OR NOT ARG_HEADER OR NOT ARG_EXPORTS)
    message(FATAL_ERROR "audiomeas_library: NAME, HEADER and EXPORTS are required")
  endif()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "audiomeas_library(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  set(headers)
  foreach(h ${ARG_HEADER})
    get_filename_component(h ${h} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    if(NOT EXISTS ${h})
      message(FATAL_ERROR "audiomeas_library(${name}): no header ${h}")
    endif()
    list(APPEND headers ${h})
  endforeach()
  list(GET headers 0 header)
  if(NOT ARG_C_SOURCES)
    set(ARG_C_SOURCES exports.cpp)
  endif()

  set(code ${ARG_EXPORTS})
  set(data ${ARG_DATA_EXPORTS})
  set(objects $<TARGET_OBJECTS:${target}_c>)
  if(ARG_ARRAY_API)
    get_property(api_code GLOBAL PROPERTY AUDIOMEAS_ARRAY_API_EXPORTS)
    get_property(api_data GLOBAL PROPERTY AUDIOMEAS_ARRAY_API_DATA_EXPORTS)
    list(APPEND code ${api_code})
    list(APPEND data ${api_data})
    list(APPEND objects $<TARGET_OBJECTS:audiomeas_runtime_api>)
  endif()

  # The version script and the lists the export check compares nm against.
  set(map ${AUDIOMEAS_EXPORTS_DIR}/${name}.map)
  list(JOIN code ";\n    " code_lines)
  set(script "/* Generated from audiomeas_library(${name}): nothing else leaves the library. */\n{\n  global:\n    ${code_lines};\n")
  if(data)
    list(JOIN data ";\n    " data_lines)
    string(APPEND script "    ${data_lines};\n")
  endif()
  string(APPEND script "  local: *;\n};\n")
  file(CONFIGURE OUTPUT ${map} CONTENT "${script}" @ONLY)
  list(JOIN code "\n" code_text)
  list(JOIN data "\n" data_text)
  file(CONFIGURE OUTPUT ${AUDIOMEAS_EXPORTS_DIR}/${name}.code.txt CONTENT "${code_text}\n" @ONLY)
  file(CONFIGURE OUTPUT ${AUDIOMEAS_EXPORTS_DIR}/${name}.data.txt CONTENT "${data_text}\n" @ONLY)

  # The version from the header, where a reader of the header finds it.
  set(version ${PROJECT_VERSION})
  file(STRINGS ${header} version_lines REGEX "^#define [A-Z0-9_]+_VERSION_(MAJOR|MINOR|PATCH) +[0-9]+")
  if(version_lines)
    foreach(part MAJOR MINOR PATCH)
      if(NOT version_lines MATCHES "_VERSION_${part} +([0-9]+)")
        message(FATAL_ERROR "audiomeas_library(${name}): ${header} lacks its _VERSION_${part}")
      endif()
      set(v_${part} ${CMAKE_MATCH_1})
    endforeach()
    set(version ${v_MAJOR}.${v_MINOR}.${v_PATCH})
  endif()
  string(REGEX MATCH "^[0-9]+" soversion ${version})

  set(internals ${ARG_LINK})
  if(ARG_SOURCES)
    add_library(${target}_core STATIC ${ARG_SOURCES})
    target_include_directories(${target}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target}_core PUBLIC audiomeas_runtime ${ARG_LINK})
    set(internals ${target}_core)
  endif()

  add_library(${target}_c OBJECT ${ARG_C_SOURCES})
  target_include_directories(${target}_c PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target}_c PUBLIC audiomeas_runtime ${internals})

  add_library(${target} SHARED ${objects})
  target_link_libraries(${target} PRIVATE audiomeas_runtime ${internals})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
  # --gc-sections drops whatever of the runtime the library never reaches.
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${map} -Wl,--no-undefined -Wl,--gc-sections)
  set(pc_name audiomeas-${name})
  if(name STREQUAL PROJECT_NAME)
    set(pc_name ${name})
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    EXPORT_NAME ${name}
    LINKER_LANGUAGE CXX
    LINK_DEPENDS ${map}
    VERSION ${version}
    SOVERSION ${soversion}
    PUBLIC_HEADER "${headers}"
    AUDIOMEAS_HEADERS "${headers}"
    AUDIOMEAS_C_OBJECTS "${objects}"
    AUDIOMEAS_INTERNALS "audiomeas_runtime;${internals}"
    AUDIOMEAS_EXPORT_LIST ${AUDIOMEAS_EXPORTS_DIR}/${name}.code.txt
    AUDIOMEAS_DATA_EXPORT_LIST ${AUDIOMEAS_EXPORTS_DIR}/${name}.data.txt
    AUDIOMEAS_INITIALIZE "${ARG_INITIALIZE}"
    AUDIOMEAS_DESCRIPTION "${ARG_DESCRIPTION}"
    AUDIOMEAS_PKG_CONFIG_NAME ${pc_name})

  # Targets in the registry; a library's file name is its OUTPUT_NAME.
  set_property(GLOBAL APPEND PROPERTY AUDIOMEAS_LIBRARIES ${target})
  set_property(GLOBAL APPEND PROPERTY AUDIOMEAS_LIBRARY_NAMES ${name})
  get_property(names GLOBAL PROPERTY AUDIOMEAS_LIBRARY_NAMES)
  list(JOIN names "\n" names_text)
  file(CONFIGURE OUTPUT ${AUDIOMEAS_REGISTRY_FILE} CONTENT "${names_text}\n" @ONLY)
endfunction()

# Headers every library's header builds on (registered by runtime/).
function(audiomeas_shared_headers)
  foreach(h ${ARGN})
    get_filename_component(h ${h} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    set_property(GLOBAL APPEND PROPERTY AUDIOMEAS_SHARED_HEADERS ${h})
  endforeach()
endfunction()
