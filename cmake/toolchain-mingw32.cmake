# 32-bit Windows with MinGW-w64: the build that ships. It is built and inspected here, never run
# (this machine has no 32-bit Wine), so configure it with -DTIDEWELL_BUILD_TESTS=OFF.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(TIDEWELL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
