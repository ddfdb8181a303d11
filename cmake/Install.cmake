# The installed layout: `cmake --install` puts the programs in bin/, the
# shared libraries they load in lib/ and the message catalogues and national
# settings in data/<language>/ under the prefix. The prefix defaults to the
# built-in default of ZEPHRA, where the programs look for data/ when DATADIR
# is not set, so an installed program finds its texts with nothing set; an
# installation elsewhere needs ZEPHRA set to its prefix. Installed programs
# find the libraries through their run path ($ORIGIN/../lib).
#
# Included last by the top-level CMakeLists.txt, when every program has
# joined the global property ZF_PROGRAMS.

get_property(zf_programs GLOBAL PROPERTY ZF_PROGRAMS)
foreach(p IN LISTS zf_programs)
  if(TARGET ${p})
    set_target_properties(${p} PROPERTIES INSTALL_RPATH "\$ORIGIN/../lib")
    install(TARGETS ${p} RUNTIME DESTINATION bin)
  endif()
endforeach()

foreach(lib zeph_s zxdb_s omdb_s)
  if(TARGET ${lib})
    install(TARGETS ${lib} LIBRARY DESTINATION lib)
  endif()
endforeach()

install(DIRECTORY ${ZF_DATA_DIR}/ DESTINATION data)
