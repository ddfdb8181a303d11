# Generates, at configure time, the build text that every program prints for
# --compile-info: who built it, on which system, with which compiler, when,
# and the patch level.
execute_process(COMMAND id -un OUTPUT_VARIABLE ZF_BUILD_USER OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT ZF_BUILD_USER)
  set(ZF_BUILD_USER "unknown")
endif()
execute_process(COMMAND uname -srm OUTPUT_VARIABLE ZF_BUILD_OS OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
string(TIMESTAMP ZF_BUILD_DATE "%Y-%m-%d %H:%M:%S")
set(ZF_BUILD_COMPILER "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}")
set(ZF_PATCH_LEVEL "000")
configure_file(${CMAKE_CURRENT_LIST_DIR}/BuildInfo.h.in ${CMAKE_BINARY_DIR}/generated/zfound/BuildInfo.h @ONLY)
