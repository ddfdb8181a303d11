# CTest dbm.install: installs the build into a temporary prefix and runs an
# installed program there without DATADIR, with ZEPHRA naming the prefix:
# its texts must be found (no ": Message not found."). -DBUILD=<build dir>.
string(RANDOM LENGTH 8 tag)
set(prefix "${BUILD}/install-check-${tag}")
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  file(REMOVE_RECURSE ${prefix})
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()
# A server directory that does not exist: the program reports that it
# cannot connect, a text of the library's catalogue.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DATADIR ZEPHRA=${prefix} OMBREL=${prefix}/none
                        ${prefix}/bin/omdbdemo none/none
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${prefix})
string(FIND "${out}${err}" "Message not found" missing)
if(NOT missing EQUAL -1)
  message(FATAL_ERROR "an installed program did not find its texts:\n${out}${err}")
endif()
if("${out}${err}" STREQUAL "")
  message(FATAL_ERROR "the installed program printed nothing")
endif()
