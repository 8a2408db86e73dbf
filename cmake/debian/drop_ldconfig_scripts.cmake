# Run by CPack once the packages are built: takes the postinst and postrm
# that call ldconfig out of libpev1's package, which activates Debian's
# ldconfig trigger instead. Maintainer scripts that do anything else are
# left alone.
foreach(package_file IN LISTS CPACK_PACKAGE_FILES)
    get_filename_component(file_name ${package_file} NAME)
    if(NOT file_name MATCHES "^${CPACK_DEBIAN_LIBRARIES_PACKAGE_NAME}_.*\\.deb$")
        continue()
    endif()
    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/ldconfig-free)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb -R ${package_file} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    foreach(script postinst postrm)
        set(path ${tree}/DEBIAN/${script})
        if(EXISTS ${path})
            file(STRINGS ${path} commands REGEX "^[^#]")
            list(FILTER commands EXCLUDE REGEX "^(set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|\tldconfig|fi)$")
            if(NOT commands)
                file(REMOVE ${path})
            endif()
        endif()
    endforeach()
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${tree} ${package_file}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
endforeach()
