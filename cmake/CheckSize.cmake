# cmake -DFILE=... -DBUDGET=... -P CheckSize.cmake: prints the file's size and
# fails when it is over the budget.
file(SIZE "${FILE}" size)
message(STATUS "installer size ${size} bytes (budget ${BUDGET})")
if(size GREATER BUDGET)
  message(FATAL_ERROR "installer is ${size} bytes, over its budget of ${BUDGET}")
endif()
