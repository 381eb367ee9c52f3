# 32-bit Windows with MinGW-w64: the bitness that ships (win32-release) and its tests (win32),
# which run under Wine's 32-bit loader on a 64-bit (WoW64) prefix.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(TIDEWELL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
