# Fails when FILE (a PE image) imports a DLL outside ALLOWED (lower-case
# names separated by commas). Run as: cmake -DOBJDUMP=... -DFILE=... -DALLOWED=... -P
# check-imports.cmake
#
# The stub must import only libraries the system always takes from its own
# folder: any other is looked up in the installer's folder first, before a
# line of the program runs, and a DLL planted there would run with the
# installer's rights. Other system libraries come from the run-time table
# (core/win32/dynamic_library).
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed")
endif()
string(REPLACE "," ";" ALLOWED "${ALLOWED}")
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "${FILE}: no import table found")
endif()
foreach(line ${lines})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  list(FIND ALLOWED "${dll}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${FILE} imports ${dll}, which the system may look up in the program's own folder; "
                        "look its functions up at run time through core/win32/dynamic_library instead")
  endif()
endforeach()
