# Reads the layer table (cmake/Layers.cmake) into variables, for the build
# and for the layer check. Works in a configure run and in script mode.
#
#   ZF_LAYERS                   the layers in table order
#   ZF_LAYER_<layer>_BELOW      the layers named in its BELOW
#   ZF_LAYER_DIRS               the directories in table order
#   ZF_DIR_<dir>_LAYER          the layer of a directory
#   ZF_DIR_<dir>_TREES          the header trees it provides
#   ZF_HEADER_<tree/Name.h>     a header's explicit layer
#   ZF_TREES                    every header tree named in the table

set(ZF_LAYERS "")
set(ZF_LAYER_DIRS "")
set(ZF_TREES "")
set(ZF_LAYER_HEADERS "")

macro(zf_layer name)
  cmake_parse_arguments(_ZL "" "" "BELOW" ${ARGN})
  list(APPEND ZF_LAYERS ${name})
  set(ZF_LAYER_${name}_BELOW ${_ZL_BELOW})
endmacro()

macro(zf_layer_dir dir layer)
  cmake_parse_arguments(_ZD "" "" "HEADERS" ${ARGN})
  if(NOT "${layer}" IN_LIST ZF_LAYERS)
    message(FATAL_ERROR "cmake/Layers.cmake: directory ${dir} names unknown layer ${layer}")
  endif()
  list(APPEND ZF_LAYER_DIRS ${dir})
  set(ZF_DIR_${dir}_LAYER ${layer})
  set(ZF_DIR_${dir}_TREES ${_ZD_HEADERS})
  list(APPEND ZF_TREES ${_ZD_HEADERS})
  list(REMOVE_DUPLICATES ZF_TREES)
endmacro()

macro(zf_layer_header header layer)
  set(ZF_HEADER_${header} ${layer})
  list(APPEND ZF_LAYER_HEADERS ${header})
endmacro()

include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

# zf_layer_reach(LAYER OUT): LAYER and every layer below it, transitively.
function(zf_layer_reach layer out)
  set(seen "")
  set(todo ${layer})
  while(todo)
    list(POP_FRONT todo l)
    if(NOT l IN_LIST seen)
      list(APPEND seen ${l})
      list(APPEND todo ${ZF_LAYER_${l}_BELOW})
    endif()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# zf_layer_trees(LAYER OUT): the header trees a file of LAYER may include.
function(zf_layer_trees layer out)
  zf_layer_reach(${layer} reach)
  set(trees "")
  foreach(d IN LISTS ZF_LAYER_DIRS)
    if(ZF_DIR_${d}_LAYER IN_LIST reach)
      list(APPEND trees ${ZF_DIR_${d}_TREES})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES trees)
  set(${out} ${trees} PARENT_SCOPE)
endfunction()
