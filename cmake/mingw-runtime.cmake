# The MinGW runtime libraries that every program of a MinGW build loads:
# shipped beside the programs, and put on Wine's path for the tests.
include_guard(GLOBAL)
set(KVX_MINGW_RUNTIME)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
    message(FATAL_ERROR "The MinGW runtime library ${dll} was not found")
  endif()
  list(APPEND KVX_MINGW_RUNTIME ${found})
endforeach()
