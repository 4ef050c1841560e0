# Checks a built Windows module: exactly the exports it is meant to have, undecorated, and
# imports only from DLLs that come with Windows itself (no runtime of the compiler beside it).
#
#   cmake -DOBJDUMP=<objdump> -DMODULE=<file.dll> -DEXPORTS="A;B" -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)
set(system_dlls
  advapi32 comctl32 comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32 setupapi shell32 shlwapi
  user32 uxtheme version winmm ws2_32)

execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${MODULE} failed")
endif()

# The names of the export table follow the line "[Ordinal/Name Pointer] Table", one per line,
# up to the first empty line. (The dump runs to megabytes; only that part is looked at.)
string(FIND "${dump}" "[Ordinal/Name Pointer] Table\n" start)
set(exports "")
if(start GREATER_EQUAL 0)
  string(SUBSTRING "${dump}" ${start} 8000 table)
  string(FIND "${table}" "\n\n" end)
  if(end GREATER 0)
    string(SUBSTRING "${table}" 0 ${end} table)
  endif()
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" rows "${table}")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "\t\\[ *[0-9]+\\] " "" name "${row}")
    list(APPEND exports "${name}")
  endforeach()
endif()
list(SORT exports)
set(expected ${EXPORTS})
list(SORT expected)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports of ${MODULE}: '${exports}', expected '${expected}'")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${MODULE}")
endif()
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: ([^ \n]+).*" "\\1" dll "${line}")
  string(TOLOWER "${dll}" dll)
  string(REGEX REPLACE "\\.dll$" "" base "${dll}")
  if(NOT base IN_LIST system_dlls AND NOT base MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${MODULE} imports ${dll}, which Windows does not bring")
  endif()
endforeach()
message(STATUS "${MODULE}: exports ${exports}; imports ${imports}")
