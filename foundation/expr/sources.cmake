# The expression grammar: the parser is generated with bison into the build
# tree and compiled into the foundation library.
find_package(BISON 3.0 REQUIRED)

set(ZF_EXPR_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated/expr)
file(MAKE_DIRECTORY ${ZF_EXPR_GENERATED_DIR})

bison_target(ZfExprGrammar
  ${CMAKE_CURRENT_LIST_DIR}/ExprGram.y
  ${ZF_EXPR_GENERATED_DIR}/ExprGram.cpp
  COMPILE_FLAGS "-Wall -Werror")

# The generated parser includes the compiler's private header beside the grammar.
set_source_files_properties(${BISON_ZfExprGrammar_OUTPUTS} PROPERTIES
  INCLUDE_DIRECTORIES ${CMAKE_CURRENT_LIST_DIR})

list(APPEND ZFOUND_GENERATED_SOURCES ${BISON_ZfExprGrammar_OUTPUTS})
