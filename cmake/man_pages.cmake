# The programs' manual pages, written in scdoc (docs/man/*.scd) and built to
# roff, gzipped as Debian keeps them, when scdoc is found.
if(WIN32 OR EMSCRIPTEN)
    return()
endif()
find_program(PEV_SCDOC scdoc)
if(NOT PEV_SCDOC)
    message(STATUS "scdoc not found: no manual pages (Debian: apt-get install scdoc)")
    return()
endif()

set(pev_man_pages)
foreach(program Pev2wav Wav2pev pev)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${program}.1.scd)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
    # -n: no name or time stamp in the gzip header, so builds are reproducible.
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND sh -c "\"$0\" <\"$1\" | gzip -9n >\"$2\"" ${PEV_SCDOC} ${source} ${page}
        DEPENDS ${source} VERBATIM)
    list(APPEND pev_man_pages ${page})
endforeach()
add_custom_target(pev_man_pages ALL DEPENDS ${pev_man_pages})
install(FILES ${pev_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
