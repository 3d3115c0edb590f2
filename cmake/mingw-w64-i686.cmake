# Windows, 32-bit (x86): the build of qapi.dll that applications load.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QAPI_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
