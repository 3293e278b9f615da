# Fails unless LIBRARY defines exactly the nine USB library functions.
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "(^|\n)[^ \n]+" names "${listing}")
list(TRANSFORM names STRIP)
list(SORT names)
set(expected SI_CheckRXQueue SI_Close SI_GetNumDevices SI_GetProductString SI_GetTimeouts
  SI_Open SI_Read SI_SetTimeouts SI_Write)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "Exported: ${names}\nExpected: ${expected}")
endif()
message(STATUS "Exports: ${names}")
