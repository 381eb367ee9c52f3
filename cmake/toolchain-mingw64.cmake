# 64-bit Windows with MinGW-w64, for the tests that run under Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TIDEWELL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
