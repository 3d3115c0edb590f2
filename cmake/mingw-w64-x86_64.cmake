# Windows, 64-bit (x64): the build whose test suite runs under Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QAPI_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
