# Fails when PROGRAM imports any DLL that is not part of Windows itself, or
# lacks one of the imports REQUIRED lists as DLL:function.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(system advapi32 bcrypt comctl32 comdlg32 gdi32 kernel32 msvcrt ntdll ole32 oleaut32
    shell32 user32 version)
foreach(line ${lines})
  string(REGEX REPLACE "DLL Name: (.+)\\.(dll|DLL)$" "\\1" dll "${line}")
  string(TOLOWER "${dll}" dll)
  list(FIND system "${dll}" known)
  if(known EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}.dll, which Windows does not ship")
  endif()
  message(STATUS "imports ${dll}.dll")
endforeach()

# Calls whose effect no test under Wine can see are checked by their import.
string(TOLOWER "${dump}" lower)
foreach(pair ${REQUIRED})
  string(TOLOWER "${pair}" pair)
  string(REPLACE ":" ";" parts "${pair}")
  list(GET parts 0 dll)
  list(GET parts 1 function)
  # The DLL's line, its heading, then one line per function.
  string(REGEX MATCH "dll name: ${dll}\\.dll\n[^\n]*\n(\t[^\n]+\n)*" block "${lower}")
  string(FIND "${block}" " ${function}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} does not import ${function} from ${dll}.dll")
  endif()
  message(STATUS "imports ${function} from ${dll}.dll")
endforeach()
