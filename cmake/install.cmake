# What `cmake --install` puts where (GNUInstallDirs), and the packages CPack
# makes of it: a Debian package and, for Windows, a zip.
include(CMakePackageConfigHelpers)

if(PEV_BUILD_PROGRAMS)
    set(pev_programs Pev2wav Wav2pev)
    if(TARGET pev_tool)
        list(APPEND pev_programs pev_tool)
    endif()
    install(TARGETS ${pev_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS pev_shared pev_static EXPORT pevTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/pev/pev.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pev)

# The CMake package: find_package(pev CONFIG REQUIRED), then pev::pev.
set(pev_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/pev)
install(EXPORT pevTargets NAMESPACE pev:: DESTINATION ${pev_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pevConfig.cmake.in
    ${PROJECT_BINARY_DIR}/pevConfig.cmake INSTALL_DESTINATION ${pev_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/pevConfigVersion.cmake
    VERSION ${PEV_LIBRARY_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/pevConfig.cmake ${PROJECT_BINARY_DIR}/pevConfigVersion.cmake
        DESTINATION ${pev_cmake_dir})

# pkg-config: the prefix is found from the .pc file's own place, so the
# installed tree can be moved (a staging folder, a package).
set(pev_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pev_pc_prefix_from_pcdir /pev/${pev_pc_dir} /pev)
string(REGEX REPLACE "/$" "" pev_pc_prefix_from_pcdir "${pev_pc_prefix_from_pcdir}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/pev.pc.in ${PROJECT_BINARY_DIR}/pev.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pev.pc DESTINATION ${pev_pc_dir})

set(CPACK_PACKAGE_NAME pev2wav)
set(CPACK_PACKAGE_VENDOR "Pev2wav developers")
set(CPACK_PACKAGE_CONTACT "Pev2wav developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Unpacks and packs voice archives (.pev); libpev, a C library for them")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR DEB)
endif()
include(CPack)
