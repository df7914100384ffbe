# Helpers shared by the subsystem folders.

# qolv_library(<name> DIRS <folder>... [LIBS ...] [EXCLUDE <file>...]): a static library of every
# source in the folders but the excluded ones (given relative to the current source folder).
function(qolv_library name)
  cmake_parse_arguments(Q "" "" "DIRS;LIBS;EXCLUDE" ${ARGN})
  set(sources)
  foreach(dir IN LISTS Q_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  foreach(file IN LISTS Q_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${Q_LIBS})
endfunction()
