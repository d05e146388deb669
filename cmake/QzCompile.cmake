# Compiler flags shared by every target of the installer.

# The installer is built small: no exceptions, no RTTI, no unwind tables, and
# functions the linker can drop when nothing calls them. Not data sections:
# MinGW then puts zero-filled records in .data, where they take file space.
# No frame pointer, and no stack alignment beyond the 4 bytes Win32 promises
# (nothing here uses SSE); helpers called once stay calls, which at -Os comes
# out smaller than the inlined copies. Together 184 bytes of code.
set(QZ_INSTALLER_FLAGS
  -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -ffunction-sections -fno-stack-protector -fno-ident
  -fno-threadsafe-statics -fomit-frame-pointer -mpreferred-stack-boundary=2
  -fno-inline-functions-called-once -malign-data=abi
  -Wall -Wextra)

# The installer's entry point is its own, so it links without the C runtime's
# start-up objects; msvcrt.dll (part of Windows) still supplies memcpy and
# memset, and libgcc the stack probe for large frames.
set(QZ_INSTALLER_LINK_FLAGS
  -s -static -mwindows -nostartfiles -nodefaultlibs
  -Wl,--gc-sections -Wl,-e,_ProcessEntry -Wl,--enable-stdcall-fixup)
set(QZ_INSTALLER_LINK_LIBRARIES kernel32 user32 gdi32 advapi32 msvcrt gcc)

if(NOT WIN32 AND NOT MSVC)
  add_compile_options(-Wall -Wextra)
endif()

# Reproducible builds: the same source gives the same bytes wherever and
# whenever it is built, so anyone can check a signed installer against it.
# The linker would stamp every Windows image with the link time (and the
# checksum after it would follow), so it stamps none, and the installer's
# image gets the source's date after the link (cmake/QzImageLayout.cmake);
# the source and build folders would reach __FILE__ and debug information.
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
add_compile_options(
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>)
