# Each folder of the tree is one layer, and a target sees a layer's headers only when it links a
# library of that layer (docs/ARCHITECTURE.md draws the layers).
#
# Sources include headers by their path from the top of the tree ("sfxstub/io/file_stream.h"),
# but the top of the tree is on no target's include path. Instead every layer has an include
# root of its own under <build>/layers that holds that layer's folder alone (a link to it), and
# each library of the layer puts that root on its PUBLIC include path. A target therefore reaches
# "sfxstub/archive/..." only through a link to a library of sfxstub/archive, direct or through a
# PUBLIC link of a library it links; an include of a layer it does not link fails to compile.
#
#   sfx_layer(TARGET)   makes TARGET one of the libraries of the layer of the calling
#                       CMakeLists.txt: the layer's include root goes on its PUBLIC (for an
#                       INTERFACE library: INTERFACE) include path.

function(sfx_layer target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" id "${folder}")
  set(root ${CMAKE_BINARY_DIR}/layers/${id})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
