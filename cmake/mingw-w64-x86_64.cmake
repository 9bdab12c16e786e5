# Cross-builds the Windows tool with Debian's mingw-w64 compilers (the posix
# thread model, whose libstdc++ has std::thread and std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NC_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NC_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NC_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NC_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Built programs (ctest, gtest_discover_tests) run under wine, in the
# project's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../script/wine)
