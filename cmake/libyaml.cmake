# Finds libyaml and defines the imported target vorn_yaml that the core links.
# The static archive is preferred, so that the extension modules carry libyaml inside them
# and an installed wheel needs nothing but the C and C++ runtimes. Where only the shared
# library exists the build links it with a warning, unless VORN_YAML_STATIC is ON (as for
# the wheels that are handed out), which makes a missing archive an error.
option(VORN_YAML_STATIC "Require libyaml's static archive (libyaml.a)" OFF)

set(_vorn_yaml_install_hint
  "install libyaml's headers: apt-get install libyaml-dev (Debian, Ubuntu), dnf install libyaml-devel (Fedora), brew install libyaml (macOS)")

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PC_YAML QUIET yaml-0.1)
endif()

find_path(YAML_INCLUDE_DIR yaml.h HINTS ${PC_YAML_INCLUDE_DIRS})
if(NOT YAML_INCLUDE_DIR)
  message(FATAL_ERROR "vorn needs libyaml and its header yaml.h was not found: ${_vorn_yaml_install_hint}")
endif()

find_library(YAML_STATIC_LIBRARY NAMES libyaml.a HINTS ${PC_YAML_LIBRARY_DIRS})
if(YAML_STATIC_LIBRARY)
  set(_vorn_yaml_library "${YAML_STATIC_LIBRARY}")
  set(_vorn_yaml_kind STATIC)
else()
  if(VORN_YAML_STATIC)
    message(FATAL_ERROR "VORN_YAML_STATIC is ON and libyaml's static archive libyaml.a was not found: ${_vorn_yaml_install_hint}")
  endif()
  find_library(YAML_LIBRARY NAMES yaml HINTS ${PC_YAML_LIBRARY_DIRS})
  if(NOT YAML_LIBRARY)
    message(FATAL_ERROR "vorn needs libyaml and the library was not found: ${_vorn_yaml_install_hint}")
  endif()
  message(WARNING "libyaml's static archive was not found; the modules link ${YAML_LIBRARY}, which every machine that installs this build then needs")
  set(_vorn_yaml_library "${YAML_LIBRARY}")
  set(_vorn_yaml_kind UNKNOWN)
endif()

add_library(vorn_yaml ${_vorn_yaml_kind} IMPORTED)
set_target_properties(vorn_yaml PROPERTIES
  IMPORTED_LOCATION "${_vorn_yaml_library}"
  INTERFACE_INCLUDE_DIRECTORIES "${YAML_INCLUDE_DIR}")
message(STATUS "libyaml: ${_vorn_yaml_library}")
