# RapidJSON is header-only and the Debian headers serve both targets. The Windows cross build
# must not see all of /usr/include, so a build-tree folder exposes just the rapidjson one.
set(RAPIDJSON_HEADERS /usr/include/rapidjson CACHE PATH "Folder holding the RapidJSON headers")
if(NOT EXISTS ${RAPIDJSON_HEADERS}/document.h)
  message(FATAL_ERROR "RapidJSON not found in ${RAPIDJSON_HEADERS}; install rapidjson-dev")
endif()
set(_qolv_rapidjson_root ${CMAKE_BINARY_DIR}/rapidjson-include)
file(MAKE_DIRECTORY ${_qolv_rapidjson_root})
file(CREATE_LINK ${RAPIDJSON_HEADERS} ${_qolv_rapidjson_root}/rapidjson SYMBOLIC)
add_library(qolv_rapidjson INTERFACE)
target_include_directories(qolv_rapidjson SYSTEM INTERFACE ${_qolv_rapidjson_root})
