# Run by cpack before and after it builds a package, so that the package's modes are the same
# whatever the builder's umask: directories 0755, and (in a .deb) ar members 0644, as dpkg-deb
# writes them.
if(NOT DEFINED CPACK_PACKAGE_FILES)
    # Before: the staging tree, whose directories the install made under the umask.
    file(CHMOD_RECURSE ${CPACK_TEMPORARY_INSTALL_DIRECTORY} DIRECTORY_PERMISSIONS
        OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    return()
endif()
# After: each ar member's header (60 bytes, after the 8 of "!<arch>\n") holds its mode at byte 40,
# in 8 characters, and its size at byte 48, in 10.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.deb$")
        continue()
    endif()
    file(SIZE ${package} end)
    set(at 8)
    while(at LESS end)
        math(EXPR mode_at "${at} + 40")
        math(EXPR size_at "${at} + 48")
        file(READ ${package} size OFFSET ${size_at} LIMIT 10)
        execute_process(COMMAND sh -c [[printf '100644  ' | dd of="$0" bs=1 seek="$1" conv=notrunc status=none]]
            ${package} ${mode_at} COMMAND_ERROR_IS_FATAL ANY)
        string(STRIP "${size}" size)
        math(EXPR at "${at} + 60 + ${size} + ${size} % 2")
    endwhile()
endforeach()
