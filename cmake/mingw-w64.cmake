# Cross-compiling for Windows with Debian's mingw-w64 toolchain whose target
# triple the including toolchain file names in QAPI_MINGW_PREFIX.  The posix
# flavour of the compilers gives the tests std::thread; the Windows build
# links the compiler's runtime statically (cmake/windows.cmake), so the DLL
# and the programs need no DLL besides the system's.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QAPI_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QAPI_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QAPI_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QAPI_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_DLLTOOL ${QAPI_MINGW_PREFIX}-dlltool)
