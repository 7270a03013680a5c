# The header-only libraries of a cross build come from the build machine's
# Debian packages. Their own package files would put all of /usr/include on
# the cross compiler's path, where the build machine's C library headers
# would hide the target's; so each is offered through a folder that shows
# only its own headers, and find_package is pointed at that.
set(VORNIC_HOST_HEADERS ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${VORNIC_HOST_HEADERS})

function(vornic_host_header_library package target header_folder version_file)
  if(NOT EXISTS /usr/include/${header_folder})
    message(FATAL_ERROR "/usr/include/${header_folder} is missing: run scripts/setup")
  endif()
  file(CREATE_LINK /usr/include/${header_folder} ${VORNIC_HOST_HEADERS}/${header_folder} SYMBOLIC)
  string(TOLOWER ${package} lower)
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${lower}-config.cmake
"if(NOT TARGET ${target})
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES \"${VORNIC_HOST_HEADERS}\")
endif()
")
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${lower}-config-version.cmake
       "include(\"${version_file}\")\n")
endfunction()

vornic_host_header_library(CLI11 CLI11::CLI11 CLI
  /usr/share/cmake/CLI11/CLI11ConfigVersion.cmake)
vornic_host_header_library(nlohmann_json nlohmann_json::nlohmann_json nlohmann
  /usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake)
