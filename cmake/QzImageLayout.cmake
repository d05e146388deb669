# The installer's image layout: five sections, no import lookup tables,
# read-only resources, and the source's date in the header.
#
# The import tables go into .rdata, as the usual Windows toolchains put them
# (the loaders write the import address table whatever the section's
# protection), and after the link the import lookup tables, copies of the
# import address tables, are cut off its end; see cmake/compact-pe-headers.pl.
# The DOS header and program and the PE header stay where the linker puts
# them, as every loader and analyser expects them.
#
# qz_image_layout(TARGET) links TARGET with that script and finishes its
# image after every link, keeping the linked image in linked/ beside it
# for the tests. Call it before any other POST_BUILD step of TARGET: those
# then see the final image.

# The linker's own default script with one change: the body of its .idata
# output section moves to the end of .rdata. The linker fills the import
# directory from symbols named after the input sections .idata$2 (the
# descriptors) and .idata$4 (their end), and the import address table's from
# .idata$5 and .idata$6, all image-relative; without an .idata output section
# nobody defines them, so the script does.
function(qz_layout_script_write output)
  execute_process(COMMAND ${CMAKE_LINKER} --verbose OUTPUT_VARIABLE verbose RESULT_VARIABLE status)
  set(rule "==================================================\n")
  string(FIND "${verbose}" "${rule}" first)
  string(FIND "${verbose}" "${rule}" last REVERSE)
  set(idata_head "\n  .idata BLOCK(__section_alignment__) :\n  {\n")
  set(rdata_head "\n  .rdata BLOCK(__section_alignment__) :\n  {\n")
  string(FIND "${verbose}" "${idata_head}" idata)
  string(FIND "${verbose}" "${rdata_head}" rdata)
  if(NOT status EQUAL 0 OR first EQUAL -1 OR first EQUAL last OR idata EQUAL -1 OR rdata EQUAL -1
     OR rdata GREATER idata)
    message(FATAL_ERROR "${CMAKE_LINKER} --verbose gives no default script with .rdata before .idata: "
                        "cannot derive the installer's layout from it")
  endif()
  string(LENGTH "${rule}" rule_length)
  math(EXPR start "${first} + ${rule_length}")
  math(EXPR length "${last} - ${start}")
  string(SUBSTRING "${verbose}" ${start} ${length} script)

  # The .idata block: its body up to the closing brace, and the whole block.
  string(FIND "${script}" "${idata_head}" idata)
  string(LENGTH "${idata_head}" head_length)
  math(EXPR body_start "${idata} + ${head_length}")
  string(SUBSTRING "${script}" ${body_start} -1 rest)
  string(FIND "${rest}" "\n  }\n" body_length)
  string(SUBSTRING "${rest}" 0 ${body_length} imports)
  math(EXPR block_length "${head_length} + ${body_length} + 4")
  string(SUBSTRING "${script}" ${idata} ${block_length} idata_block)

  set(marks
    "KEEP (SORT(*)(.idata$2))" "\".idata$2\""
    "KEEP (SORT(*)(.idata$4))" "\".idata$4\""
    "__IAT_start__ = ." "\".idata$5\""
    "__IAT_end__ = ." "\".idata$6\"")
  while(marks)
    list(POP_FRONT marks anchor symbol)
    string(FIND "${imports}" "${anchor}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the linker's .idata section has no '${anchor}': cannot derive the installer's layout")
    endif()
    string(REPLACE "${anchor}" "${symbol} = . - __image_base__;\n    ${anchor}" imports "${imports}")
  endwhile()

  # The import lookup tables (.idata$4) go last, after the names: the
  # loaders read the names through the import address table as well, so
  # the tables can be cut off the end of .rdata after the link. The
  # ".idata$4" symbol stays where it is, ending the import directory.
  set(lookup "\n    KEEP (SORT(*)(.idata$4))")
  set(names "\n    KEEP (SORT(*)(.idata$7))")
  string(FIND "${imports}" "${names}" names_at)
  string(LENGTH "${names}" names_length)
  math(EXPR names_end "${names_at} + ${names_length}")
  string(LENGTH "${imports}" imports_length)
  if(names_at EQUAL -1 OR NOT names_end EQUAL imports_length)
    message(FATAL_ERROR "the linker's .idata section does not end with its names: cannot derive the installer's layout")
  endif()
  string(REPLACE "${lookup}" "" imports "${imports}")
  string(APPEND imports "${lookup}")

  # The .rdata block's end, where the import tables go.
  string(REPLACE "${idata_block}" "\n" script "${script}")
  string(FIND "${script}" "${rdata_head}" rdata)
  string(SUBSTRING "${script}" 0 ${rdata} before)
  string(SUBSTRING "${script}" ${rdata} -1 rest)
  string(FIND "${rest}" "\n  }\n" rdata_end)
  string(SUBSTRING "${rest}" 0 ${rdata_end} rdata_body)
  string(SUBSTRING "${rest}" ${rdata_end} -1 after)
  file(WRITE "${output}.tmp" "${before}${rdata_body}\n    /* The import tables. */\n${imports}${after}")
  file(COPY_FILE "${output}.tmp" "${output}" ONLY_IF_DIFFERENT)
  file(REMOVE "${output}.tmp")
endfunction()

set(QZ_LAYOUT_SCRIPT ${CMAKE_BINARY_DIR}/image-layout.ld)
set(QZ_COMPACT_HEADERS ${CMAKE_CURRENT_LIST_DIR}/compact-pe-headers.pl)
# The date the images are stamped with, chosen anew at every build (a
# commit changes it) by cmake/SourceDate.cmake.
set(QZ_SOURCE_DATE_FILE ${CMAKE_BINARY_DIR}/source-date)
if(WIN32)
  qz_layout_script_write(${QZ_LAYOUT_SCRIPT})
  find_program(QZ_PERL perl REQUIRED)
  add_custom_target(qz_source_date
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DFALLBACK=${QZ_VERSION_DATE}
            -DOUTPUT=${QZ_SOURCE_DATE_FILE} -P ${CMAKE_CURRENT_LIST_DIR}/SourceDate.cmake
    BYPRODUCTS ${QZ_SOURCE_DATE_FILE}
    VERBATIM)
endif()

function(qz_image_layout target)
  target_link_options(${target} PRIVATE -Wl,-T,${QZ_LAYOUT_SCRIPT})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
    ${QZ_LAYOUT_SCRIPT} ${QZ_COMPACT_HEADERS} ${PROJECT_SOURCE_DIR}/pack/file_end.h ${QZ_SOURCE_DATE_FILE})
  add_dependencies(${target} qz_source_date)
  set(linked $<TARGET_FILE_DIR:${target}>/linked/$<TARGET_FILE_NAME:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/linked
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}> ${linked}
    COMMAND ${QZ_PERL} ${QZ_COMPACT_HEADERS} ${linked} $<TARGET_FILE:${target}> ${QZ_SOURCE_DATE_FILE}
    VERBATIM)
endfunction()
