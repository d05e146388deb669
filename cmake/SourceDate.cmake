# cmake -DSOURCE_DIR=... -DFALLBACK=YYYY-MM-DD -DOUTPUT=... -P SourceDate.cmake
#
# Writes the date the Windows images are stamped with to OUTPUT, in seconds
# since 1970 (UTC), touching the file only when the date changes, so that a
# new commit relinks them and nothing else does. The date is the source's,
# never the clock's, so that two builds of one commit come out the same:
#   - SOURCE_DATE_EPOCH when set (the reproducible-builds convention);
#   - else, in a git checkout, the last commit's time;
#   - else (a source archive) FALLBACK, the version's date from the top
#     CMakeLists.txt, at midnight UTC.
# A checkout whose commit git cannot tell fails the build rather than take
# another date.

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(date "$ENV{SOURCE_DATE_EPOCH}")
  set(origin "SOURCE_DATE_EPOCH")
elseif(EXISTS "${SOURCE_DIR}/.git")
  find_program(GIT git)
  if(GIT)
    execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" log -1 --format=%ct
      OUTPUT_VARIABLE date ERROR_VARIABLE error RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  else()
    set(status 1)
    set(error "git is not installed")
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${SOURCE_DIR} is a git checkout, but git does not give its last commit's time "
                        "(${error}); set SOURCE_DATE_EPOCH to the date to stamp the images with")
  endif()
  set(origin "the last commit's time")
else()
  if(NOT FALLBACK MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "the version's date '${FALLBACK}' is not YYYY-MM-DD")
  endif()
  # Days since 1970-01-01 in the proleptic Gregorian calendar, counted in
  # years that start on 1 March, so that the leap day ends a year.
  math(EXPR year "${CMAKE_MATCH_1}")
  math(EXPR month "${CMAKE_MATCH_2}")
  math(EXPR day "${CMAKE_MATCH_3}")
  if(month LESS 3)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 9")
  else()
    math(EXPR month "${month} - 3")
  endif()
  math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400 + (153 * ${month} + 2) / 5 + ${day} - 1 - 719468")
  math(EXPR date "${days} * 86400")
  set(origin "the version's date, ${FALLBACK}")
endif()

if(NOT date MATCHES "^[0-9]+$" OR date GREATER 4294967295)
  message(FATAL_ERROR "the image date from ${origin}, '${date}', is not a time from 1970 to 2106 in seconds")
endif()
file(WRITE "${OUTPUT}.tmp" "${date}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
