# Cross-compiles for Windows with Debian's MinGW-w64 compilers. ZEB_MINGW_ARCH picks the
# target: i686 (32-bit Windows, the default) or x86_64 (64-bit Windows). The "posix" compiler
# variants are used for their std::mutex and std::thread.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT ZEB_MINGW_ARCH)
  set(ZEB_MINGW_ARCH i686)
endif()
if(NOT ZEB_MINGW_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "ZEB_MINGW_ARCH must be i686 or x86_64, not ${ZEB_MINGW_ARCH}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZEB_MINGW_ARCH)
set(CMAKE_SYSTEM_PROCESSOR ${ZEB_MINGW_ARCH})

set(ZEB_MINGW_TRIPLE ${ZEB_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEB_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
