# fieldforms, the program that shows field forms; the catalog tests run it.
zf_add_program(fieldforms SOURCES ${CMAKE_CURRENT_LIST_DIR}/fieldforms.cpp LIBS svcatalog)
add_dependencies(server_catalog_tests fieldforms)
