# Cross toolchain of the 64-bit Windows build. The product is the 32-bit
# build; this one exists so that the Windows suite can run under 64-bit Wine
# on kernels that run no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
