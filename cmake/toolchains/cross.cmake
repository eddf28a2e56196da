# Cross builds with Debian's cross compilers, each run in its emulator:
#   cmake -S . -B build-TARGET --toolchain cmake/toolchains/cross.cmake -DZELMAR_TARGET=TARGET
# TARGET is the compiler's GNU triple:
#   i686-w64-mingw32, x86_64-w64-mingw32   Windows, with MinGW-w64 (posix threads), run under Wine;
#   i686-linux-gnu, aarch64-linux-gnu, s390x-linux-gnu, powerpc64le-linux-gnu, riscv64-linux-gnu,
#   arm-linux-gnueabihf                    Linux, with Debian's g++-TARGET, run under qemu-user;
#   wasm32-emscripten                      WebAssembly, with Debian's emscripten, run under Node.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELMAR_TARGET)
if(NOT ZELMAR_TARGET MATCHES "^([a-z0-9_]+)-(w64-mingw32|linux-gnu[a-z]*|emscripten)$")
    message(FATAL_ERROR "Set ZELMAR_TARGET to a compiler's triple, such as i686-w64-mingw32 or aarch64-linux-gnu")
endif()
if(CMAKE_MATCH_2 STREQUAL "emscripten")
    # emcc runs its own JavaScript tools with the machine's node, which finds their modules only
    # where Debian keeps them when that node is not Debian's own.
    set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
    set(EMSCRIPTEN_SYSTEM_PROCESSOR wasm32 CACHE STRING "The processor, which Emscripten would call x86")
    include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
    set(ZELMAR_EMULATOR_ENVIRONMENT "")
    set(ZELMAR_EMULATOR_NEEDS_32_BIT OFF)
    set(ZELMAR_EMULATOR_NATIVE_SPEED OFF)
    return()
endif()
set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_MATCH_1})

set(CMAKE_FIND_ROOT_PATH /usr/${ZELMAR_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# What the tests need to know of the emulator, besides its command:
#   ZELMAR_EMULATOR_ENVIRONMENT   variables it runs with;
#   ZELMAR_EMULATOR_NEEDS_32_BIT  it runs 32-bit programs of this machine's own (so the kernel must allow them);
#   ZELMAR_EMULATOR_NATIVE_SPEED  it runs the target's code at the machine's own speed.
if(CMAKE_MATCH_2 STREQUAL "w64-mingw32")
    set(CMAKE_SYSTEM_NAME Windows)
    set(CMAKE_C_COMPILER ${ZELMAR_TARGET}-gcc-posix)
    set(CMAKE_CXX_COMPILER ${ZELMAR_TARGET}-g++-posix)
    set(CMAKE_RC_COMPILER ${ZELMAR_TARGET}-windres)
    # One .exe that runs on its own: no libstdc++, libgcc or winpthread DLLs beside it.
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
    # 64-bit programs go straight to Wine's 64-bit loader: Debian's `wine` would start its
    # 32-bit loader first where that is installed.
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
        set(emulator wine64)
        find_program(ZELMAR_EMULATOR NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
        set(ZELMAR_EMULATOR_NEEDS_32_BIT OFF)
    else()
        set(emulator wine)
        set(ZELMAR_EMULATOR_NEEDS_32_BIT ON)
    endif()
    # A Wine prefix of the build's own; no debugging chatter, no offer to install .NET or a browser.
    set(ZELMAR_EMULATOR_ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine" "WINEDEBUG=-all"
        "WINEDLLOVERRIDES=mscoree,mshtml=")
    set(ZELMAR_EMULATOR_NATIVE_SPEED ON)
else()
    set(CMAKE_SYSTEM_NAME Linux)
    set(CMAKE_C_COMPILER ${ZELMAR_TARGET}-gcc)
    set(CMAKE_CXX_COMPILER ${ZELMAR_TARGET}-g++)
    # qemu's names for the processors whose GNU names differ.
    set(qemu_names i686:i386 i586:i386 powerpc64le:ppc64le powerpc64:ppc64 powerpc:ppc)
    set(qemu_name ${CMAKE_SYSTEM_PROCESSOR})
    foreach(pair IN LISTS qemu_names)
        if(pair MATCHES "^${CMAKE_SYSTEM_PROCESSOR}:(.*)$")
            set(qemu_name ${CMAKE_MATCH_1})
        endif()
    endforeach()
    set(emulator qemu-${qemu_name}-static)
    set(ZELMAR_EMULATOR_ENVIRONMENT "")
    set(ZELMAR_EMULATOR_NEEDS_32_BIT OFF)
    set(ZELMAR_EMULATOR_NATIVE_SPEED OFF)
endif()
# Where the emulator is missing, the tests that need it say so when they run.
find_program(ZELMAR_EMULATOR NAMES ${emulator})
if(ZELMAR_EMULATOR)
    set(emulator ${ZELMAR_EMULATOR})
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator})
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # The target's own C library and loader, from Debian's cross packages; no binfmt registration needed.
    # The library path keeps the loader from taking the C library of that architecture's multiarch
    # packages (libc6:s390x, say) where they are installed too: a loader and a C library of two
    # different builds end the program ("stack smashing detected").
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -L /usr/${ZELMAR_TARGET} -E LD_LIBRARY_PATH=/usr/${ZELMAR_TARGET}/lib)
endif()
