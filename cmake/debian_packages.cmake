# The Debian packages, one per install component, split as Debian splits a
# library: pev2wav (the programs, which hold the core themselves and so need
# no libpev1), libpev1 (the shared library alone) and libpev-dev. The files
# CPack cannot make are in cmake/debian/.
set(pev_debian_dir ${PROJECT_SOURCE_DIR}/cmake/debian)
set(pev_debian_packages pev2wav libpev1 libpev-dev)
set(pev_debian_components programs libraries development)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${pev_debian_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE pev2wav)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Pev2wav developers <maintainers@users.noreply.c-seed-2862160f.example>")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME pev2wav)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION [[unpack and pack voice archives (.pev)
Pev2wav unpacks a voice archive (.pev file) into 16-bit mono WAV files, one
per clip, beside the archive. Wav2pev packs WAV files into an archive, the
exact inverse: unpacking and packing again gives the same bytes.

pev does both for people who expect what other archive tools give them:
list the clips (also as JSON), test an archive, extract chosen clips into
a chosen folder without overwriting files, write one clip to standard
output for a player, and pack files or folders of WAV files. Built with
libsndfile and libsoxr, pev packs recordings in any format they read (FLAC,
Ogg Vorbis, Opus, MP3, AIFF, WAV of any kind, at any rate) and extracts
clips as FLAC, Ogg Vorbis, Opus, MP3 or AIFF files at any rate.]])

set(CPACK_DEBIAN_LIBRARIES_PACKAGE_NAME libpev1)
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SHLIBDEPS ON)
# CPack has no per-package switch for shlibs; libpev1 is the only package
# with a shared library. Programs built against this version run with any
# later libpev1: new versions of the same SONAME only add functions.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_CONTROL_EXTRA
    ${pev_debian_dir}/symbols ${pev_debian_dir}/triggers)
set(CPACK_DEBIAN_LIBRARIES_DESCRIPTION [[library for reading and writing voice archives (.pev)
libpev opens voice archives (.pev files) from a file or from memory, tells
each clip's length and state, decodes a clip into 16-bit samples, a WAV
image or a WAV file, and packs samples into a new archive. It is the code
the pev2wav programs run, and refuses damaged archives the same way.

This package holds the shared library.]])

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libpev-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libpev1 (= ${PEV_LIBRARY_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION [[library for voice archives (.pev) - development files
libpev opens voice archives (.pev files), decodes their clips into samples
or WAV files and packs samples into new archives, from C99 or C++.

This package holds what building against libpev takes: the header, the
static library, the link to the shared one, a pkg-config file (pev) and a
CMake package (find_package(pev)).]])

# CPack calls ldconfig from postinst and postrm for a library in /usr/lib,
# where Debian activates the ldconfig trigger instead (libpev1.triggers),
# and it has no option to leave them out: they are taken out of the built
# package again.
set(CPACK_POST_BUILD_SCRIPTS ${pev_debian_dir}/drop_ldconfig_scripts.cmake)

# Each package's copyright and changelog, in /usr/share/doc/PACKAGE, for the
# packages alone: a plain `cmake --install` leaves them out.
set(pev_changelog_gz ${PROJECT_BINARY_DIR}/debian/changelog.gz)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
add_custom_command(OUTPUT ${pev_changelog_gz}
    COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${pev_debian_dir}/changelog ${pev_changelog_gz}
    DEPENDS ${pev_debian_dir}/changelog VERBATIM)
add_custom_target(pev_debian_changelog ALL DEPENDS ${pev_changelog_gz})
foreach(package component IN ZIP_LISTS pev_debian_packages pev_debian_components)
    install(FILES ${pev_debian_dir}/copyright ${pev_changelog_gz}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
