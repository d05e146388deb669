# cmake -DFILE=... -DBUDGET=... [-DOBJDUMP=...] -P CheckSize.cmake: prints the
# file's size and, with OBJDUMP, where its bytes are (the headers, and each
# section's contents, which the file pads to its 512-byte alignment); fails
# when the file is over the budget.
file(SIZE "${FILE}" size)
set(parts "")
if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -h "${FILE}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  # "  0 .text  000030b0  00401000  00401000  00000400  2**2": index, name,
  # size, addresses, file offset. Sections with no file offset (.bss) take
  # no file space.
  string(REGEX MATCHALL "\n +[0-9]+ +[^ \n]+ +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+" rows "${dump}")
  set(headers "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "\n +[0-9]+ +([^ ]+) +([0-9a-f]+) +[0-9a-f]+ +[0-9a-f]+ +([0-9a-f]+)" "\\1;\\2;\\3" fields "${row}")
    list(GET fields 0 name)
    list(GET fields 1 hexsize)
    list(GET fields 2 hexoffset)
    math(EXPR offset "0x${hexoffset}")
    if(offset EQUAL 0)
      continue()
    endif()
    if(headers STREQUAL "")
      set(headers ${offset})
      string(APPEND parts ": headers ${headers}")
    endif()
    math(EXPR bytes "0x${hexsize}")
    string(APPEND parts ", ${name} ${bytes}")
  endforeach()
endif()
message(STATUS "installer size ${size} bytes (budget ${BUDGET})${parts}")
if(size GREATER BUDGET)
  message(FATAL_ERROR "installer is ${size} bytes, over its budget of ${BUDGET}")
endif()
