cmake_minimum_required(VERSION 3.20)
# cmake -DOBJDUMP=... -DFILE=... -P import_check.cmake
# Fails when FILE imports a DLL that is not a KnownDLL: Windows would look for
# such a DLL in the executable's own folder first, before the entry point has
# had a chance to restrict the search.
set(KNOWN_DLLS
  advapi32.dll comdlg32.dll gdi32.dll gdiplus.dll imagehlp.dll imm32.dll kernel32.dll
  msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll psapi.dll rpcrt4.dll
  sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "no imports found in ${FILE}")
endif()
set(bad "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(dll IN_LIST KNOWN_DLLS)
    message(STATUS "imports ${dll}")
  else()
    list(APPEND bad ${dll})
  endif()
endforeach()
if(bad)
  message(FATAL_ERROR "${FILE} imports DLLs that are not KnownDLLs: ${bad}")
endif()
