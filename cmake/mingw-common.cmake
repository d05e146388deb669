# What both MinGW-w64 cross toolchains share; the toolchain file that
# includes this sets CMAKE_SYSTEM_PROCESSOR first. The posix thread model is
# required: the win32 variant lacks std::mutex, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)

set(QZ_MINGW_PREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${QZ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QZ_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${QZ_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QZ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
