# The build side of the layer table (cmake/Layers.cmake): each directory's
# targets see only the header trees their layer may include. A tree is made
# visible through a root of its own in the build tree (a link
# <build>/include-trees/<tree>/<tree> to include/<tree>), so that
# <tree/Name.h> resolves while the neighbouring trees stay out of reach.
include(LayerTable)

# zf_header_root(TREE OUT): the include root that shows include/TREE alone.
function(zf_header_root tree out)
  set(root ${CMAKE_BINARY_DIR}/include-trees/${tree})
  if(NOT IS_SYMLINK ${root}/${tree})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/include/${tree} ${root}/${tree} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# zf_layer_includes(TARGET LAYER): give TARGET the include roots of every tree
# that LAYER may include, plus the generated headers.
function(zf_layer_includes target layer)
  zf_layer_trees(${layer} trees)
  set(roots ${CMAKE_BINARY_DIR}/generated)
  foreach(tree IN LISTS trees)
    zf_header_root(${tree} root)
    list(APPEND roots ${root})
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${roots})
  elseif(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${roots})
  elseif(NOT type STREQUAL "UTILITY")
    target_include_directories(${target} PUBLIC ${roots})
  endif()
endfunction()

# zf_layer_apply(DIR [LAYER]): every target defined under the build
# directory DIR (sub-directories included) gets the include roots of LAYER,
# by default DIR's own layer in the table.
function(zf_layer_apply dir)
  set(layer ${ARGV1})
  if(NOT layer)
    set(layer ${ZF_DIR_${dir}_LAYER})
  endif()
  if(NOT layer)
    message(FATAL_ERROR "${dir} is not in the layer table cmake/Layers.cmake: add its zf_layer_dir line")
  endif()
  set(todo ${CMAKE_SOURCE_DIR}/${dir})
  while(todo)
    list(POP_FRONT todo d)
    get_property(targets DIRECTORY ${d} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
      zf_layer_includes(${t} ${layer})
    endforeach()
    get_property(subs DIRECTORY ${d} PROPERTY SUBDIRECTORIES)
    list(APPEND todo ${subs})
  endwhile()
endfunction()
