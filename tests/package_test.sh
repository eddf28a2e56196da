#!/bin/sh
# Builds the packages and checks what each holds, and that the program in it runs.
# Usage: package_test.sh deb BUILD_DIR SOURCE_DIR
#        package_test.sh zip BUILD_DIR win32|win64 OBJDUMP [EMULATOR...]   (runs it only with an emulator)
set -eu
kind=$1 build=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

# Runs the program, the command line given, and checks its report.
check_runs() {
    printf '2\n1\n' | "$@" | tr -d '\r' | grep -qx 'Pi=2.6666666666666669627261399000417441129684448242188' ||
        fail "$* does not report as it should"
}

# Checks that the paths on standard input, one a line, are the set given.
check_holds() {
    what=$1
    shift
    got=$(sort | tr '\n' ' ')
    want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    [ "$got" = "$want" ] || fail "$what holds: $got; expected: $want"
}

# Renders a manual page the way lintian does; any warning is a failure.
check_renders() {
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$1: $warnings"
}

if [ "$kind" = zip ]; then
    system=$1 objdump=$2
    shift 2
    (cd "$build" && cpack -B "$work" >/dev/null)  # the default generator
    zip=$(ls "$work"/zelmar-*-"$system".zip) || fail "no zelmar-<version>-$system.zip"
    python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist(), sep="\n")' "$zip" |
        check_holds "$zip" zelmar.exe README.txt LICENSE.txt
    python3 -m zipfile -e "$zip" "$work/unzipped"
    for text in README.txt LICENSE.txt; do  # for Notepad: every line ends in CR LF
        awk '!/\r$/ { exit 1 }' "$work/unzipped/$text" || fail "$text has a line that does not end in CR LF"
    done
    exe=$work/unzipped/zelmar.exe
    format=$(case $system in win32) echo pei-i386 ;; win64) echo pei-x86-64 ;; esac)
    "$objdump" -f "$exe" | grep -q "file format $format\$" || fail "zelmar.exe is not $format"
    "$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | check_holds "the imports of zelmar.exe" \
        KERNEL32.dll msvcrt.dll
    [ "$("$objdump" -t "$exe" | grep -c '^\[')" = 0 ] || fail "zelmar.exe is not stripped"
    # Its version resource, read back with the toolchain's resource compiler: the zip's version, the licence's holder.
    version=$(basename "$zip" | sed 's/^zelmar-\(.*\)-win..\.zip$/\1/')
    copyright=$(tr -d '\r' <"$work/unzipped/LICENSE.txt" | grep -m1 '^Copyright ')
    resource=$("${objdump%objdump}windres" -J coff -O rc -i "$exe")
    for value in "FileVersion\", \"$version" "ProductVersion\", \"$version" "ProductName\", \"Zelmar" \
        "OriginalFilename\", \"zelmar.exe" "LegalCopyright\", \"$copyright" "CompanyName\", \"${copyright#* * * }" \
        "FileDescription\", \"Zelmar Pi Approximator"; do
        echo "$resource" | grep -qF "VALUE \"$value\"" || fail "zelmar.exe's version resource lacks $value: $resource"
    done
    echo "$resource" | grep -qx " FILEVERSION $(echo "$version" | sed 's/\./, /g'), 0" || fail "FILEVERSION is not $version"
    if [ $# -gt 0 ]; then  # the emulator
        check_runs "$@" "$exe"
        echo "package_test: $(basename "$zip") holds what it should, and its zelmar.exe runs"
    else
        echo "package_test: $(basename "$zip") holds what it should"
    fi
    exit 0
fi

source=$1
files="./usr/bin/zelmar ./usr/share/man/man1/zelmar.1.gz ./usr/share/doc/zelmar/copyright
       ./usr/share/doc/zelmar/changelog.gz"

cmake --install "$build" --prefix "$work/usr" >/dev/null
(cd "$work" && find usr ! -type d | sed 's|^|./|') | check_holds "the installation" $files
check_runs "$work/usr/bin/zelmar"
check_renders "$work/usr/share/man/man1/zelmar.1.gz"

# Under a permissive umask, to show that the package's modes do not depend on it.
(cd "$build" && umask 002 && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/*.deb)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | check_holds "$deb" $files
dpkg-deb -c "$deb" | awk '$2 != "root/root" || ($1 != "drwxr-xr-x" && $1 != "-rw-r--r--" &&
    !($1 == "-rwxr-xr-x" && $6 == "./usr/bin/zelmar")) { bad = bad " " $1 " " $2 " " $6 } END { exit bad != "" }' ||
    fail "modes or owners are off in $deb"
for field in Package:zelmar Section:math Priority:optional Architecture:"$(dpkg --print-architecture)"; do
    [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "${field#*:}" ] || fail "$field is not in the package"
done
for field in Version Maintainer Description Depends; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package has no $field"
done
dpkg-deb -x "$deb" "$work/unpacked"
elf=$work/unpacked/usr/bin/zelmar
check_runs "$elf"
check_renders "$work/unpacked/usr/share/man/man1/zelmar.1.gz"

# Hardened as Debian's own packages are; lintian checks the rest.
readelf -hW "$elf" | grep -q 'Type:.*DYN' || fail "zelmar is not position-independent"
readelf --dyn-syms -W "$elf" | grep -q __stack_chk_fail || fail "zelmar has no stack protector"
readelf -lW "$elf" | grep -q GNU_RELRO || fail "zelmar has no read-only relocations"
readelf -dW "$elf" | grep -q 'FLAGS.*NOW' || fail "zelmar is not bound at start"
if command -v lintian >/dev/null; then
    tags=$(lintian --pedantic -I --tag-display-limit 0 --fail-on error,warning,info,pedantic "$deb" 2>/dev/null) ||
        fail "lintian: $tags"
    [ -z "$tags" ] || fail "lintian: $tags"
fi

# Two builds from clean clones, in other directories, under other umasks and without
# SOURCE_DATE_EPOCH, give the same bytes.
if [ -e "$source/.git" ]; then
    for place in one:022 two/deeper:077; do
        mask=${place#*:} place=${place%:*}
        git clone -q "$source" "$work/$place/zelmar"
        (umask "$mask" && cd "$work/$place/zelmar" && unset SOURCE_DATE_EPOCH &&
            cmake -S . -B build -DBUILD_TESTING=OFF >/dev/null && cmake --build build --parallel 2 >/dev/null &&
            cd build && cpack -G DEB >/dev/null)
    done
    cmp "$work"/one/zelmar/build/*.deb "$work"/two/deeper/zelmar/build/*.deb ||
        fail "two builds of the same commit give different packages"
fi
echo "package_test: $(basename "$deb") holds $(echo $files), and builds reproducibly"
