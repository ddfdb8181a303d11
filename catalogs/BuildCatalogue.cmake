# Builds one message catalogue with catload (run as cmake -P):
#   CATLOAD   the catload program
#   CATALOG   the catalogue's name
#   STAGE     a directory of this catalogue's own to build in
#   OUTPUT    where the finished file goes
#   SECTIONS  the section sources, separated by "|"
# Each section source is loaded into a fresh file in STAGE; a final load of
# no records puts every section in key order. Any failure stops the build
# with catload's own message and leaves OUTPUT as it was.
string(REPLACE "|" ";" sections "${SECTIONS}")
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/english)
set(ENV{DATADIR} ${STAGE})
set(ENV{LANGUAGE} english)

set(first "")
foreach(source IN LISTS sections)
  get_filename_component(section ${source} NAME_WE)
  if(first STREQUAL "")
    set(first ${section})
  endif()
  execute_process(COMMAND ${CATLOAD} -b ${CATALOG} english ${section}
    INPUT_FILE ${source}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${source}: catload failed (${rc}):\n${out}${err}")
  endif()
endforeach()

execute_process(COMMAND ${CATLOAD} -b ${CATALOG} english ${first}
  INPUT_FILE /dev/null
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${CATALOG}: catload failed (${rc}):\n${out}${err}")
endif()

file(RENAME ${STAGE}/english/${CATALOG}.msg ${OUTPUT})
file(REMOVE_RECURSE ${STAGE})
