# Checks that the DLL exports exactly the symbols of the list EXPECTED, and imports
# nothing but Windows system DLLs (the C and C++ runtimes are linked in statically).
execute_process(COMMAND ${OBJDUMP} -p ${PLUGIN} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump failed on ${PLUGIN}")
endif()

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*" names "${table}")
list(TRANSFORM names REPLACE "^\\[ *[0-9]+\\] " "")
list(SORT names)
if(NOT names STREQUAL EXPECTED)
  message(FATAL_ERROR "exports are '${names}', expected '${EXPECTED}'")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  if(NOT lower MATCHES "^(kernel32|user32|gdi32|comctl32|msvcrt|advapi32|ucrtbase|api-ms-win-[a-z0-9-]+)\\.dll$")
    message(FATAL_ERROR "imports the non-system DLL ${dll}")
  endif()
endforeach()
message(STATUS "exports: ${names}; imports: ${imports}")
