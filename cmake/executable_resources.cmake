# The resources every Tundra executable carries: the manifest, the version
# information and the icon, compiled by the mingw-w64 resource compiler.
#
# The release number has one home, TUNDRA_INSTALLER_RELEASE in
# src/release/installer_release.h: the version information is made from it,
# as are the HTTPS user agent and the window's header.
#
# The icon is drawn at build time from the window's own sparkle mark
# (src/app/window/logo_icon.cpp) by a small tool built for this machine with its own
# compiler: nothing of it comes from outside the repository.

# The top-level CMakeLists.txt reads the number from the header into
# TUNDRA_INSTALLER_RELEASE (and configures again when the header changes).
set(TUNDRA_RELEASE "${TUNDRA_INSTALLER_RELEASE}")
if(NOT TUNDRA_RELEASE MATCHES "^[0-9]+$")
  message(FATAL_ERROR "no release number in src/release/installer_release.h")
endif()

find_program(TUNDRA_HOST_CXX NAMES g++ c++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(TUNDRA_ICON_TOOL ${CMAKE_BINARY_DIR}/resources/tundra-icon)
set(TUNDRA_ICON_FILE ${CMAKE_BINARY_DIR}/resources/tundra.ico)
set(icon_sources
  ${TUNDRA_ROOT}/tools/tundra-icon/main.cpp
  ${TUNDRA_ROOT}/src/app/window/logo_icon.cpp
  ${TUNDRA_ROOT}/src/app/window/logo_mark.cpp)
add_custom_command(OUTPUT ${TUNDRA_ICON_TOOL}
  COMMAND ${TUNDRA_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -I${TUNDRA_ROOT}/src
          ${icon_sources} -o ${TUNDRA_ICON_TOOL}
  DEPENDS ${icon_sources} ${TUNDRA_ROOT}/src/app/window/logo_icon.h ${TUNDRA_ROOT}/src/app/window/logo_mark.h
  COMMENT "Building the icon tool for this machine"
  VERBATIM)
add_custom_command(OUTPUT ${TUNDRA_ICON_FILE}
  COMMAND ${TUNDRA_ICON_TOOL} ${TUNDRA_ICON_FILE}
  DEPENDS ${TUNDRA_ICON_TOOL}
  COMMENT "Drawing the icon"
  VERBATIM)
add_custom_target(tundra_icon DEPENDS ${TUNDRA_ICON_FILE})

function(tundra_executable_resources target description)
  if(description STREQUAL "")
    set(description "Tundra USB Installer")
  endif()
  set(TUNDRA_DESCRIPTION "${description}")
  get_target_property(TUNDRA_EXE_NAME ${target} OUTPUT_NAME)
  if(NOT TUNDRA_EXE_NAME)
    set(TUNDRA_EXE_NAME ${target})
  endif()
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${TUNDRA_ROOT}/src/app/window/resources/executable.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${TUNDRA_ICON_FILE};${TUNDRA_ROOT}/src/app/window/resources/executable.manifest;${TUNDRA_ROOT}/src/app/window/resource_ids.h")
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} tundra_icon)
endfunction()
