# The layers as the build enforces them (docs/design-notes.md, "Layers").
# Each folder below is one floor, listed from the bottom up. A floor's
# sources are compiled with a single include root,
# ${CMAKE_BINARY_DIR}/floors/<floor>, which holds links to the floor's own
# folder and the folders below it and to nothing else: an include that runs
# up a floor names a file that is not there, and the compilation stops.
# The links keep the names the sources use ("runtime/messages.h").
#
# core/win32 lies inside core/: the floor core gets a folder of links to
# core's own headers, so it does not see core/win32; the floors above it get
# core/win32 as one more link in that folder.
#
# tests/host/layers.sh proves it on the real compile commands.
set(TRUX_FLOORS core core/win32 archive runtime ui install actions uninstall app)

# A new or removed header in core/ makes the next build run this again.
file(GLOB TRUX_CORE_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/core/*.h)

set(_below)
foreach(floor ${TRUX_FLOORS})
  list(APPEND _below ${floor})
  string(REPLACE "/" "_" _name ${floor})
  set(_root ${CMAKE_BINARY_DIR}/floors/${_name})
  file(MAKE_DIRECTORY ${_root}/core)
  foreach(header ${TRUX_CORE_HEADERS})
    get_filename_component(_file ${header} NAME)
    file(CREATE_LINK ${header} ${_root}/core/${_file} SYMBOLIC)
  endforeach()
  foreach(folder ${_below})
    if(NOT folder STREQUAL "core")
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${_root}/${folder} SYMBOLIC)
    endif()
  endforeach()
endforeach()
unset(_below)
unset(_name)
unset(_root)
unset(_file)

# Compiles the sources of `target` on `floor`: its include root is the
# floor's and nothing else (the folders that hold floors get no
# include_directories of their own).
function(trux_floor target floor)
  if(NOT floor IN_LIST TRUX_FLOORS)
    message(FATAL_ERROR "trux_floor: ${floor} is not a floor (${TRUX_FLOORS})")
  endif()
  string(REPLACE "/" "_" name ${floor})
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/floors/${name})
endfunction()
