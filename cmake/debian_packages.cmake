# The Debian packages, one per install component, split as Debian splits a
# library: pev2wav (the programs, which hold the core themselves and so need
# no libpev1), libpev1 (the shared library alone) and libpev-dev; and, when
# the plugins are built, gstreamer1.0-pev, audacious-plugin-pev and
# vlc-plugin-pev, which stand on libpev1. The files CPack cannot make are in
# cmake/debian/.
set(pev_debian_dir ${PROJECT_SOURCE_DIR}/cmake/debian)
set(pev_debian_packages pev2wav libpev1 libpev-dev)
set(pev_debian_components programs libraries development)
if(TARGET pev_gstreamer_plugin)
    list(APPEND pev_debian_packages gstreamer1.0-pev)
    list(APPEND pev_debian_components gstreamer)
endif()
if(TARGET pev_audacious_plugin)
    list(APPEND pev_debian_packages audacious-plugin-pev)
    list(APPEND pev_debian_components audacious)
endif()
if(TARGET pev_vlc_plugin)
    list(APPEND pev_debian_packages vlc-plugin-pev)
    list(APPEND pev_debian_components vlc)
endif()

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
# pev mount links libfuse 3 (shlibdeps adds it); mounting as a user other
# than root takes fusermount3, from fuse3.
if(TARGET pev_mount)
    set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS fuse3)
endif()
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
clips as FLAC, Ogg Vorbis, Opus, MP3 or AIFF files at any rate. With
libebur128 it measures each clip's loudness (EBU R128) and gives new
recordings the loudness of the clips they replace. pev mount
shows an archive as a folder of WAV files that every program can open, and
takes clips saved there back into the archive.]])

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

# The plugins link libpev.so.1, which no installed package holds while the
# packages are made: dpkg-shlibdeps finds it among libpev1's files (CPack
# runs it in the plugin's own staging folder, beside libpev1's), and the
# dependency on libpev1 is given here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../libraries/usr/${CMAKE_INSTALL_LIBDIR})
set(pev_plugin_depends "libpev1 (>= ${PEV_LIBRARY_VERSION})")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-pev)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_DEPENDS ${pev_plugin_depends})
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION [[GStreamer plugin for voice archives (.pev)
This plugin lets every player built on GStreamer (anything that uses
playbin or decodebin, gst-play-1.0) play voice archives (.pev files). A type
finder knows them by their magic; pevdemux plays every clip that can be
decoded, one after another, as 16-bit mono audio at the archive's rate, with
a table of contents of the clips, each clip's title (the name pev extract
gives its file), track number and count, and seeking exact to the sample.
Its clip property plays one clip alone.]])

set(CPACK_DEBIAN_AUDACIOUS_PACKAGE_NAME audacious-plugin-pev)
set(CPACK_DEBIAN_AUDACIOUS_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_AUDACIOUS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_AUDACIOUS_PACKAGE_DEPENDS ${pev_plugin_depends})
set(CPACK_DEBIAN_AUDACIOUS_PACKAGE_ENHANCES audacious)
set(CPACK_DEBIAN_AUDACIOUS_DESCRIPTION [[Audacious plugin for voice archives (.pev)
This input plugin lets Audacious play voice archives (.pev files): each clip
that can be decoded is a track of its own in the playlist, titled with the
name pev extract gives its file, with its length, rate and channels, and
can be played and sought to the millisecond. Damaged clips are left out.]])

# VLC's plugin cache (plugins.dat) is rebuilt by libvlc-bin's trigger, which
# watches VLC's plugin folder: installing or removing the module there runs
# vlc-cache-gen, as for Debian's own VLC plugin packages, which have no
# maintainer scripts either. The module works without the cache too (VLC
# then loads it to read its description).
set(CPACK_DEBIAN_VLC_PACKAGE_NAME vlc-plugin-pev)
set(CPACK_DEBIAN_VLC_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_VLC_PACKAGE_SHLIBDEPS ON)
if(PEV_VLC_PLUGIN_ABI)
    set(CPACK_DEBIAN_VLC_PACKAGE_DEPENDS "${pev_plugin_depends}, ${PEV_VLC_PLUGIN_ABI}")
else()
    set(CPACK_DEBIAN_VLC_PACKAGE_DEPENDS ${pev_plugin_depends})
endif()
set(CPACK_DEBIAN_VLC_PACKAGE_ENHANCES vlc)
set(CPACK_DEBIAN_VLC_DESCRIPTION [[VLC plugin for voice archives (.pev)
This demux module lets VLC play voice archives (.pev files), known by their
content or their name: an archive opens as a playlist of the clips that can
be decoded, each titled with the name pev extract gives its file, with its
track number and length. A clip plays as 16-bit mono audio at the archive's
rate, exactly the samples pev extract writes, and seeks land where they land
in the extracted WAV file. Damaged clips are left out with a message.]])

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
