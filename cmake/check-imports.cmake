# Fails when a Windows executable imports a DLL that Windows does not ship, e.g. a mingw
# runtime DLL left dynamic. Run as: cmake -DOBJDUMP=... -DEXE=... -P check-imports.cmake
cmake_minimum_required(VERSION 3.25)
set(system_dlls
    ADVAPI32.dll COMCTL32.dll COMDLG32.dll GDI32.dll KERNEL32.dll msvcrt.dll ole32.dll
    OLEAUT32.dll SETUPAPI.dll SHELL32.dll USER32.dll VERSION.dll WS2_32.dll)
string(TOLOWER "${system_dlls}" system_dlls)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "${EXE}: no imports found")
endif()
set(foreign)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" key)
  if(NOT key IN_LIST system_dlls)
    list(APPEND foreign ${dll})
  endif()
  message(STATUS "imports ${dll}")
endforeach()
if(foreign)
  message(FATAL_ERROR "${EXE} imports DLLs that Windows does not ship: ${foreign}")
endif()
