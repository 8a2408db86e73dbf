# Release builds for Linux are hardened the way Debian builds its packages:
# checked buffer functions, stack protector, position-independent programs
# and a read-only relocation table bound at start-up. Sanitizer, fuzzing,
# WebAssembly and cross builds (which link statically) keep their own flags.
if(CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_SYSTEM_NAME STREQUAL "Linux"
   AND NOT CMAKE_CROSSCOMPILING AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(pev_harden_default ON)
else()
    set(pev_harden_default OFF)
endif()
option(PEV2WAV_HARDEN "Build with Debian's hardening flags" ${pev_harden_default})

if(PEV2WAV_HARDEN)
    include(CheckPIESupported)
    check_pie_supported()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    # -U first: a compiler that defines its own level would warn of a redefinition.
    add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
    add_link_options(-Wl,-z,relro,-z,now)
endif()
