# Cross-compiling for Windows with MinGW-w64 (posix threads). MORVANE_ARCH
# picks the target: i686 (the shipped 32-bit program) or x86_64 (a test build
# for hosts whose kernel cannot run 32-bit code, where Wine is 64-bit only).
set(CMAKE_SYSTEM_NAME Windows)
if(NOT MORVANE_ARCH)
  set(MORVANE_ARCH i686)
endif()
set(MORVANE_ARCH ${MORVANE_ARCH} CACHE STRING "i686 or x86_64")
set(CMAKE_SYSTEM_PROCESSOR ${MORVANE_ARCH})
set(triple ${MORVANE_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
