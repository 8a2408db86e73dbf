# Cross-compiling for 64-bit ARM Linux (Debian: g++-aarch64-linux-gnu); the
# results run on x86-64 under qemu-user. This is where the NEON decoder is
# built and tested.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(pev_cross_prefix aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${pev_cross_prefix}-gcc)
set(CMAKE_CXX_COMPILER ${pev_cross_prefix}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${pev_cross_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CTest and try_run start the built programs on the build host.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${pev_cross_prefix})
