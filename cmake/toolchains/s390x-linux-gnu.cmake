# Cross-compiling for big-endian 64-bit IBM Z Linux (Debian:
# g++-s390x-linux-gnu); the results run on x86-64 under qemu-user. A
# big-endian host shows at once any field or sample that is not handled
# byte by byte.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(pev_cross_prefix s390x-linux-gnu)
set(CMAKE_C_COMPILER ${pev_cross_prefix}-gcc)
set(CMAKE_CXX_COMPILER ${pev_cross_prefix}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${pev_cross_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CTest and try_run start the built programs on the build host.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/${pev_cross_prefix})
