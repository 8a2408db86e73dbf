# CLI11 and nlohmann/json, header-only libraries that only pev uses
# (Debian: libcli11-dev, nlohmann-json3-dev). Defines CLI11::CLI11 and
# nlohmann_json::nlohmann_json.
#
# A native build finds their CMake packages. A cross build cannot: the target
# system's tree holds no copy, and the host's packages point at the host's
# /usr/include, which must not reach a cross compiler (its C headers would
# shadow the target's). Being headers alone, they serve any target, so a
# cross build copies just their two folders out of PEV_HOST_INCLUDE_DIR into
# the build folder and uses that copy.
if(NOT CMAKE_CROSSCOMPILING)
    find_package(CLI11 2.1 CONFIG REQUIRED)
    find_package(nlohmann_json 3.10 CONFIG REQUIRED)
    return()
endif()

set(PEV_HOST_INCLUDE_DIR /usr/include CACHE PATH
    "Folder holding the build host's CLI/ and nlohmann/ headers, for cross builds")
set(pev_header_copy ${PROJECT_BINARY_DIR}/header-only-libraries)
foreach(header CLI/CLI.hpp nlohmann/json.hpp)
    if(NOT EXISTS ${PEV_HOST_INCLUDE_DIR}/${header})
        message(FATAL_ERROR "${PEV_HOST_INCLUDE_DIR}/${header} not found: install libcli11-dev "
                            "and nlohmann-json3-dev, or set PEV_HOST_INCLUDE_DIR")
    endif()
endforeach()
file(COPY ${PEV_HOST_INCLUDE_DIR}/CLI ${PEV_HOST_INCLUDE_DIR}/nlohmann
     DESTINATION ${pev_header_copy})

foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${pev_header_copy})
endforeach()
