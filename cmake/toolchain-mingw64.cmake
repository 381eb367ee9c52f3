# 64-bit Windows with MinGW-w64, for the tests that run under Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TIDEWELL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# ctest runs each test program through wine64, in the prefix that scripts/wine/with-prefix.sh
# has booted; nothing runs Wine at configure or build time.
get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR
                       "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine/exec.sh" ABSOLUTE)
