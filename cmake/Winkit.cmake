# The window toolkit library winkit: the union of the object libraries that
# the toolkit directories make (winkit_window, winkit_winobj, winkit_views,
# winkit_winapp, winkit_wincmd), bottom to top. Their object files are
# carried whole into every program and test that links winkit, so commands
# that register themselves through static instances are never dropped.
set(ZF_WINKIT_PARTS "")
foreach(part window winobj views winapp wincmd)
  if(TARGET winkit_${part})
    list(APPEND ZF_WINKIT_PARTS winkit_${part})
  endif()
endforeach()
if(ZF_WINKIT_PARTS)
  add_library(winkit INTERFACE)
  foreach(part IN LISTS ZF_WINKIT_PARTS)
    target_sources(winkit INTERFACE $<TARGET_OBJECTS:${part}>)
    target_link_libraries(winkit INTERFACE $<TARGET_PROPERTY:${part},INTERFACE_LINK_LIBRARIES>)
  endforeach()
  target_include_directories(winkit INTERFACE ${CMAKE_SOURCE_DIR}/include)
endif()
