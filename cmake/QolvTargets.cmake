# Helpers shared by the subsystem folders.

# qolv_room_root(<var> <room>): an include folder that holds src/<room>/ alone, as <room>/, so that
# "<room>/x.h" resolves for exactly the code that links the room's library. It is a folder of
# links in the build tree; where the system cannot make a link, all of src/ is used instead and
# only tools/check-layering.sh guards the rooms.
function(qolv_room_root var room)
  set(root ${CMAKE_BINARY_DIR}/rooms/${room})
  file(MAKE_DIRECTORY ${root})
  file(REMOVE ${root}/${room})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${room} ${root}/${room} RESULT failed SYMBOLIC)
  if(failed)
    message(STATUS "no link for ${room}/ (${failed}): its library exports all of src/")
    set(root ${PROJECT_SOURCE_DIR}/src)
  endif()
  set(${var} ${root} PARENT_SCOPE)
endfunction()

# qolv_library(<name> DIRS <folder>... [LIBS ...] [EXCLUDE <file>...]): a static library of every
# source in the folders but the excluded ones (given relative to the current source folder). Its
# room is the first folder's top (platform for platform/posix); it exports that room only.
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
  list(GET Q_DIRS 0 first)
  string(REGEX REPLACE "/.*" "" room ${first})
  qolv_room_root(root ${room})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${Q_LIBS})
endfunction()
