# Floors the build enforces. Each folder is one target, and a target sees
# only its own folder's headers and those of the targets it links: every
# folder's headers are linked, one by one, into a tree of the target's own
# under the build directory, and that tree is the only include path it
# passes on. A header of a floor not linked is not found, so an include
# that runs up a floor fails to build.
# expose_folder_headers(TARGET [FOLDER]): FOLDER is relative to the calling
# CMakeLists.txt's, itself by default.
function(expose_folder_headers target)
  set(source_folder ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARGC GREATER 1)
    set(source_folder ${CMAKE_CURRENT_SOURCE_DIR}/${ARGV1})
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${source_folder})
  set(root ${PROJECT_BINARY_DIR}/floors/${target})
  file(GLOB headers CONFIGURE_DEPENDS ${source_folder}/*.h)
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${folder})
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# A library of one folder's sources, its headers exposed as above.
function(add_floor target)
  add_library(${target} STATIC ${ARGN})
  expose_folder_headers(${target})
endfunction()
