# nlohmann's JSON library is header-only, so the build machine's copy serves
# a cross build too. Its headers are reached through a folder of their own:
# the build machine's include directory itself would bring its C library's
# headers in front of the target's.
if(TARGET nlohmann_json::nlohmann_json)
  return()
endif()
find_path(ZEMLINK_HOST_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(json_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${json_headers})
file(CREATE_LINK ${ZEMLINK_HOST_JSON_DIR}/nlohmann ${json_headers}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${json_headers})
