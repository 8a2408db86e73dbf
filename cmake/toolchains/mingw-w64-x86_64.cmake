# Cross-compiling for 64-bit Windows from Linux with MinGW-w64
# (Debian: g++-mingw-w64-x86-64). The `windows` preset uses this file and
# links statically, so the .exe needs no MinGW DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(pev_cross_prefix x86_64-w64-mingw32)
# The -posix variants: Debian's default (win32) thread model has no
# std::thread or std::mutex. Linked statically, winpthreads goes into the
# .exe, so it still needs no DLL beside it.
set(CMAKE_C_COMPILER ${pev_cross_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${pev_cross_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${pev_cross_prefix}-windres)

# Look for libraries and headers only in the target's tree, for programs only
# on the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${pev_cross_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CTest and try_run start the built programs on Linux.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
