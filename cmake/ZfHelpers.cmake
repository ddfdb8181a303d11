# Helpers shared by every directory of the build.

# zf_add_program(NAME SOURCES src... [LIBS lib...])
# A program on the common entry: its sources hold its application class and
# the ZF_APP_MAIN line; it links the foundation library. Every program is
# listed in the global property ZF_PROGRAMS, so that the tests, which start
# programs from the build's bin directory, are built after all of them.
function(zf_add_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE zfound ${P_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_property(GLOBAL APPEND PROPERTY ZF_PROGRAMS ${name})
endfunction()

# zf_add_test_dir(SUBSYSTEM DIR [LIBS lib...])
# One GoogleTest executable for the tests of one source directory, named
# <subsystem>_<dir>_tests; its cases are registered with CTest under the
# prefix "<subsystem>.<dir>." and the label <subsystem>, so that
# `ctest -R foundation` or `ctest -L foundation` selects them. The shared
# test main (tests/support/TestMain.cpp) points DATADIR, LANGUAGE,
# ZF_BIN_DIR and ZF_SOURCE_DIR at the build and source trees.
function(zf_add_test_dir subsystem dir)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe ${subsystem}_${dir}_tests)
  add_executable(${exe} ${srcs})
  target_link_libraries(${exe} PRIVATE zftestsupport ${T_LIBS} GTest::gtest)
  set_target_properties(${exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${exe}
    TEST_PREFIX "${subsystem}.${dir}."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${subsystem})
endfunction()

# zf_link_db_runtime(TARGET lib...)
# A program or test executable that loads libzeph_s and a database library
# (zeph_s, zxdb_s or omdb_s, given as `lib...`): the shared libraries are
# linked before the foundation, so the foundation members they need are
# pulled into the program, and the program exports its symbols
# (ENABLE_EXPORTS) for the shared libraries to resolve against. The shared
# libraries themselves name neither the foundation nor each other, so the
# program keeps a NEEDED entry for each of them even when it calls only one
# (--no-as-needed).
function(zf_link_db_runtime target)
  target_link_options(${target} PRIVATE "LINKER:--no-as-needed")
  target_link_libraries(${target} PRIVATE ${ARGN} zfound)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()
