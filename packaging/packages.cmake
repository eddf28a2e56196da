# Installation and packages. Linux gets the program, its manual page and
# Debian's documents under /usr; Windows a zip with the .exe, README and licence;
# the web build a zip with the page, README and licences.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
find_program(GZIP gzip)

# `file` compressed as gzip -9n (no name, no time stamp), where gzip is at hand;
# sets `var` to whichever file is to be installed.
function(zelmar_compressed var file)
    if(GZIP)
        cmake_path(GET file FILENAME name)
        add_custom_command(OUTPUT ${name}.gz
            COMMAND ${GZIP} -9 -n -c ${file} > ${name}.gz
            DEPENDS ${file} VERBATIM)
        add_custom_target(${name}_gz ALL DEPENDS ${name}.gz)
        set(${var} ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz PARENT_SCOPE)
    else()
        set(${var} ${file} PARENT_SCOPE)
    endif()
endfunction()

# The Debian architecture of the program: the toolchain's, or this machine's.
if(NOT WIN32 AND NOT EMSCRIPTEN)
    set(triple_option "")
    if(CMAKE_CROSSCOMPILING)
        set(triple_option -t ${ZELMAR_TARGET})
    endif()
    execute_process(COMMAND dpkg-architecture ${triple_option} -qDEB_HOST_ARCH OUTPUT_VARIABLE ZELMAR_DEB_ARCH
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

# Configures the README `template` into `output`, each paragraph of plain lines (not indented)
# filled to 78 columns, so that text taken from elsewhere reads as one with the rest; with CRLF
# after the output, its lines end in CR LF.
function(zelmar_readme template output)
    file(READ ${template} text)
    string(CONFIGURE "${text}" text @ONLY)
    # What lists would take for their own (; and brackets) stands aside meanwhile.
    string(ASCII 1 semicolon)
    string(ASCII 2 open)
    string(ASCII 3 close)
    string(REPLACE ";" "${semicolon}" text "${text}")
    string(REPLACE "[" "${open}" text "${text}")
    string(REPLACE "]" "${close}" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(filled "")
    set(words "")
    list(APPEND lines "")  # the last paragraph ends the text
    foreach(line IN LISTS lines)
        if(line MATCHES "^[^ ]")
            string(APPEND words " ${line}")
            continue()
        endif()
        string(REGEX MATCHALL "[^ ]+" words "${words}")
        set(filling "")
        foreach(word IN LISTS words)
            string(LENGTH "${filling} ${word}" width)
            if(filling AND width GREATER 78)
                string(APPEND filled "${filling}\n")
                set(filling "${word}")
            elseif(filling)
                string(APPEND filling " ${word}")
            else()
                set(filling "${word}")
            endif()
        endforeach()
        if(filling)
            string(APPEND filled "${filling}\n")
        endif()
        set(words "")
        string(APPEND filled "${line}\n")
    endforeach()
    string(REGEX REPLACE "\n\n$" "\n" filled "${filled}")
    string(REPLACE "${semicolon}" ";" filled "${filled}")
    string(REPLACE "${open}" "[" filled "${filled}")
    string(REPLACE "${close}" "]" filled "${filled}")
    if(ARGN STREQUAL "CRLF")
        string(REPLACE "\n" "\r\n" filled "${filled}")
    endif()
    file(CONFIGURE OUTPUT ${output} CONTENT "@filled@" @ONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${template})
endfunction()

# An archive's README speaks to whoever unpacked it. What it shares with README.md comes from there:
# the opening paragraph, and the example run below it.
if(ZELMAR_STATIC OR WIN32 OR EMSCRIPTEN)
    file(READ README.md readme)
    if(NOT readme MATCHES "^# Zelmar\n\n([^\n]+(\n[^\n]+)*)\n\n```text\n([^`]*)```")
        message(FATAL_ERROR "README.md does not open with a paragraph followed by an example run")
    endif()
    set(ZELMAR_ABOUT "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "([^\n]*)\n" "    \\1\n" ZELMAR_EXAMPLE "${CMAKE_MATCH_3}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS README.md)
endif()

if(ZELMAR_STATIC AND NOT WIN32)
    # A static archive for any Linux (packaging/release.sh makes it): the program, its manual
    # page, README and licence, in one folder.
    install(TARGETS zelmar RUNTIME DESTINATION .)
    configure_file(doc/zelmar.1.in zelmar.1 @ONLY)
    set(ZELMAR_PROCESSOR_NOTE "")
    if(ZELMAR_NEEDS_SSE2)
        set(ZELMAR_PROCESSOR_NOTE " that has SSE2 (Pentium 4, Athlon 64 or later)")
    endif()
    zelmar_readme(packaging/README-linux.in README)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelmar.1 ${CMAKE_CURRENT_BINARY_DIR}/README LICENSE DESTINATION .)
elseif(EMSCRIPTEN)
    # The page, which holds the terminal, whose own licence goes with Zelmar's.
    zelmar_readme(packaging/README-web.txt.in README.txt)
    file(READ LICENSE license)
    file(READ ${terminal}/LICENSE terminal_license)
    file(READ ${fit}/LICENSE fit_license)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt "${license}\n\nzelmar.html holds the terminal xterm.js \
6.0.0, under its own licence:\n\n${terminal_license}\n\nand its fit addon 0.11.0, under the same licence:\n\n\
${fit_license}")
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelmar.html ${CMAKE_CURRENT_BINARY_DIR}/README.txt
        ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)
elseif(WIN32)
    install(TARGETS zelmar RUNTIME DESTINATION .)
    # Text files that Notepad opens by a double click: .txt, with CR LF line ends.
    zelmar_readme(packaging/README-windows.txt.in README.txt CRLF)
    configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)
else()
    install(TARGETS zelmar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # Debian, as dh_strip does, drops the compiler's notes with the symbols.
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:zelmar>\"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()")

    configure_file(doc/zelmar.1.in zelmar.1 @ONLY)
    zelmar_compressed(man_page ${CMAKE_CURRENT_BINARY_DIR}/zelmar.1)
    install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    # The copyright file in Debian's machine-readable format, with the licence's terms from LICENSE.
    file(READ LICENSE license)
    string(REGEX REPLACE "^.*\n(Permission )" "\\1" license "${license}")
    string(REGEX REPLACE "\n+$" "" license "${license}")
    string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
    string(REPLACE "\n" "\n " license "${license}")
    set(ZELMAR_LICENSE_TERMS " ${license}")
    configure_file(packaging/copyright.in copyright @ONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
    zelmar_compressed(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Packages are reproducible: their time stamps are the last commit's (or the
# changelog's outside git), unless SOURCE_DATE_EPOCH says otherwise when cpack runs.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ZELMAR_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
    find_package(Git QUIET)
    if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
        execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE ZELMAR_SOURCE_DATE_EPOCH
            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(NOT ZELMAR_SOURCE_DATE_EPOCH)
        file(TIMESTAMP packaging/changelog ZELMAR_SOURCE_DATE_EPOCH "%s" UTC)
    endif()
endif()
configure_file(packaging/cpack-options.cmake.in cpack-options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-options.cmake)

set(CPACK_PACKAGE_NAME zelmar)
set(CPACK_PACKAGE_VENDOR "The Zelmar developers")
set(CPACK_PACKAGE_CONTACT ${ZELMAR_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "approximate pi with the arctan series and time the summation")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "An interactive console program that sums as many terms of the arctan series"
    "at x = 1 as asked, showing every k-th term's index as it goes, then reports"
    "its approximation of pi to 50 significant digits and the wall-clock time"
    "the summation took.")
if(ZELMAR_NEEDS_SSE2)
    string(APPEND CPACK_PACKAGE_DESCRIPTION "\n.\nIt needs a processor with SSE2 (Pentium 4, Athlon 64 or later).")
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/fixed-modes.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/fixed-modes.cmake)
if(WIN32 OR EMSCRIPTEN)
    # Unpacked, a zip makes one folder, named as the zip is, as the Linux archives do.
    set(CPACK_GENERATOR ZIP)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
    if(EMSCRIPTEN)
        set(CPACK_SYSTEM_NAME web)
    endif()
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_PACKAGE_SECTION math)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Its dependencies come from that architecture's own libraries (Debian's multiarch packages,
    # libc6:arm64 and so on), as Debian cross-builds, never from the cross toolchain's copies.
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZELMAR_DEB_ARCH})
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
