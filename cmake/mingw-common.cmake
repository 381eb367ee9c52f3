# What both MinGW-w64 toolchains share; each sets TIDEWELL_MINGW_TRIPLE and the processor first.
# The -posix compilers: the -win32 ones have no std::thread.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TIDEWELL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIDEWELL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TIDEWELL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TIDEWELL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs each test program through Wine, in the prefix that scripts/wine/with-prefix.sh has
# booted; wine64 hands a 32-bit program to the 32-bit loader itself. Nothing runs Wine at
# configure or build time.
get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR
                       "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine/exec.sh" ABSOLUTE)
