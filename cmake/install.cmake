# What `cmake --install` puts where (GNUInstallDirs), and the packages CPack
# makes of it: Debian packages (cmake/debian_packages.cmake) and, for
# Windows, a zip. Every file belongs to one of the components, which become
# the Debian packages: programs (with their manual pages), libraries (the
# shared library alone), development (what building against it takes) and,
# when they are built, the player plugins: gstreamer, audacious and vlc
# (plugins/*/CMakeLists.txt install them).
include(CMakePackageConfigHelpers)

if(PEV_BUILD_PROGRAMS)
    set(pev_programs Pev2wav Wav2pev)
    if(TARGET pev_tool)
        list(APPEND pev_programs pev_tool)
    endif()
    install(TARGETS ${pev_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT programs)
endif()

install(TARGETS pev_shared pev_static EXPORT pevTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libraries
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libraries
            NAMELINK_COMPONENT development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/pev/pev.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pev COMPONENT development)

# The CMake package: find_package(pev CONFIG REQUIRED), then pev::pev.
set(pev_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/pev)
install(EXPORT pevTargets NAMESPACE pev:: DESTINATION ${pev_cmake_dir} COMPONENT development)
set(PEV_LICENSE MIT) # SPDX identifier, also in pevConfig.cmake
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pevConfig.cmake.in
    ${PROJECT_BINARY_DIR}/pevConfig.cmake INSTALL_DESTINATION ${pev_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/pevConfigVersion.cmake
    VERSION ${PEV_LIBRARY_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/pevConfig.cmake ${PROJECT_BINARY_DIR}/pevConfigVersion.cmake
        DESTINATION ${pev_cmake_dir} COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own place, so the
# installed tree can be moved (a staging folder, a package).
set(pev_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pev_pc_prefix_from_pcdir /pev/${pev_pc_dir} /pev)
string(REGEX REPLACE "/$" "" pev_pc_prefix_from_pcdir "${pev_pc_prefix_from_pcdir}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/pev.pc.in ${PROJECT_BINARY_DIR}/pev.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pev.pc DESTINATION ${pev_pc_dir} COMPONENT development)

include(${PROJECT_SOURCE_DIR}/cmake/man_pages.cmake)

if(WIN32)
    # The zip is all a Windows user gets: the README, the user guide it
    # points to and the licence go in beside the folders, under names Windows
    # opens.
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT programs)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/guide DESTINATION docs COMPONENT programs
            FILES_MATCHING PATTERN "*.md")
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt
            COMPONENT programs)
endif()

# The desktop's name for voice archives (application/x-pev, by the magic
# PEVPAC and the glob *.pev), for the shared MIME database; it goes with the
# programs, since a library package must not hold files a later version of
# it would hold too.
if(NOT WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/data/mime/pev.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT programs)
endif()

# Shell completions for pev: each file in completions/ goes to the same path
# under share, where each shell looks (bash-completion/completions/pev,
# zsh/vendor-completions/_pev, fish/vendor_completions.d/pev.fish).
if(EXISTS ${PROJECT_SOURCE_DIR}/completions)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/completions/ DESTINATION ${CMAKE_INSTALL_DATADIR}
            COMPONENT programs)
endif()

set(CPACK_PACKAGE_NAME pev2wav)
set(CPACK_PACKAGE_VENDOR "Pev2wav developers")
# The packages are versioned as the library is (PEV_VERSION in pev.h);
# Pev2wav's banner keeps its own text.
set(CPACK_PACKAGE_VERSION ${PEV_LIBRARY_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR DEB)
    include(${PROJECT_SOURCE_DIR}/cmake/debian_packages.cmake)
endif()
include(CPack)
