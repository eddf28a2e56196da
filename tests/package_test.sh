#!/bin/sh
# Builds the packages and checks what each holds, and that the program in it runs; or checks
# every package of a release that packaging/release.sh made.
# Usage: package_test.sh deb BUILD_DIR SOURCE_DIR
#        package_test.sh zip BUILD_DIR win32|win64 OBJDUMP [EMULATOR...]   (runs it only with an emulator)
#        package_test.sh release RELEASE_DIR SOURCE_DIR
# Exits with 77, saying "Skipped: ...", where all else passed but a check could not be made here.
set -eu
kind=$1 build=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }
# Says what passed; then, if a check could not be made here, why, with status 77.
skipped=""
passed() {
    echo "package_test: $*"; [ -z "$skipped" ] || { echo "Skipped: $skipped"; exit 77; }; exit 0
}

# Each kind of package: what `file` says of its program, and what runs that program here, against
# that architecture's installed libraries (a static program needs none).
architectures='amd64|64-bit LSB .*x86-64|
i386|32-bit LSB .*Intel 80386|qemu-i386-static
arm64|64-bit LSB .*ARM aarch64|qemu-aarch64-static
armhf|32-bit LSB .*ARM, EABI5|qemu-arm-static
s390x|64-bit MSB .*IBM S/390|qemu-s390x-static
ppc64el|64-bit LSB .*64-bit PowerPC|qemu-ppc64le-static
riscv64|64-bit LSB .*RISC-V|qemu-riscv64-static
win32|PE32 executable \(console\) Intel 80386|
win64|PE32\+ executable \(console\) x86-64|'

# Runs the program, the command line given, and checks its report; a 32-bit x86 one must also say,
# on a processor without SSE2, that it needs it.
check_runs() {
    printf '2\n1\n' | "$@" | tr -d '\r' | grep -qx 'Pi=2.6666666666666669627261399000417441129684448242188' ||
        fail "$* does not report as it should"
    if [ "$1" = qemu-i386-static ]; then
        said=$("$1" -cpu pentium2 "$2" 2>&1 </dev/null || echo "status $?")
        [ "$said" = "$(printf 'zelmar: this program needs a processor with SSE2 (Pentium 4, Athlon 64 or later)\nstatus 1')" ] ||
            fail "on a Pentium II, $2 should say that it needs SSE2 and exit 1, but: $said"
    fi
}

# The README's command that builds and starts the program, in the source folder given.
build_command() {
    grep -m1 -E '^cmake .* && \./build/zelmar$' "$1/README.md" ||
        fail "$1/README.md has no command that builds and starts the program"
}

# Checks that the paths on standard input, one a line, are the set given.
check_holds() {
    what=$1
    shift
    got=$(sort | tr '\n' ' ')
    want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    [ "$got" = "$want" ] || fail "$what holds: $got; expected: $want"
}

# Checks the members listed on standard input (as `tar -tv --full-time` lists them) of what is
# named: owned by root, directories 0755, files 0644 but the program 0755, and each member's time
# stamp the one given, if one is.
check_members() {
    awk -v stamp="${2:-}" '($2 != "0/0" && $2 != "root/root") || (stamp != "" && $4 " " $5 != stamp) ||
        ($1 != "drwxr-xr-x" && $1 != "-rw-r--r--" && !($1 == "-rwxr-xr-x" && $NF ~ /\/zelmar$/)) { print; bad = 1 }
        END { exit bad }' || fail "owners, modes or time stamps (${2:-any}) are off in $1"
}

# Checks that `file` describes the program given as one for the kind of package given (and the
# extended pattern that follows, if any).
check_machine() {
    machine=$(echo "$architectures" | awk -F'|' -v kind="$2" '$1 == kind { print $2 }')
    file -b "$1" | grep -Eq "$machine${3:-}" || fail "$1 should be for $2${3:+ ($3)}, but it is $(file -b "$1")"
}

# Checks that the README given reads as filled: in each paragraph of plain (not indented) lines,
# no line is over 78 columns, and none is short by the next line's first word.
check_filled() {
    tr -d '\r' <"$1" | awk 'last != "" && /^[^ ]/ { split($0, w, " "); if (length(last " " w[1]) <= 78) bad = bad "\n" last }
        { last = /^[^ ]/ ? $0 : ""; if (length(last) > 78) bad = bad "\n" last }
        END { if (bad != "") { print bad; exit 1 } }' >"$work/fill" || fail "$1 has lines that a fill broke badly: $(cat "$work/fill")"
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
    top=$(basename "$zip" .zip)
    python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist(), sep="\n")' "$zip" |
        check_holds "$zip" "$top/zelmar.exe" "$top/README.txt" "$top/LICENSE.txt"
    python3 -m zipfile -e "$zip" "$work"
    unzipped=$work/$top
    awk '!/\r$/ { exit 1 }' "$unzipped/README.txt" "$unzipped/LICENSE.txt" ||  # for Notepad
        fail "README.txt or LICENSE.txt has a line that does not end in CR LF"
    check_filled "$unzipped/README.txt"
    exe=$unzipped/zelmar.exe
    check_machine "$exe" "$system"
    "$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | check_holds "the imports of zelmar.exe" \
        KERNEL32.dll msvcrt.dll
    [ "$("$objdump" -t "$exe" | grep -c '^\[')" = 0 ] || fail "zelmar.exe is not stripped"
    # Its version resource, read back with the toolchain's resource compiler: the zip's version, the licence's holder.
    version=$(basename "$zip" | sed 's/^zelmar-\(.*\)-win..\.zip$/\1/')
    copyright=$(tr -d '\r' <"$unzipped/LICENSE.txt" | grep -m1 '^Copyright ')
    resource=$("${objdump%objdump}windres" -J coff -O rc -i "$exe")
    for value in "FileVersion\", \"$version" "ProductVersion\", \"$version" "ProductName\", \"Zelmar" \
        "OriginalFilename\", \"zelmar.exe" "LegalCopyright\", \"$copyright" "CompanyName\", \"${copyright#* * * }" \
        "FileDescription\", \"Zelmar Pi Approximator"; do
        echo "$resource" | grep -qF "VALUE \"$value\"" || fail "zelmar.exe's version resource lacks $value: $resource"
    done
    echo "$resource" | grep -qx " FILEVERSION $(echo "$version" | sed 's/\./, /g'), 0" || fail "FILEVERSION is not $version"
    # Its icon, for Explorer: a group of one 32 by 32 image of 32 bits (4264 bytes, with its mask), and that image.
    printf '%s\n' "$resource" | grep -qF '"\040\040\000\000", 1, 32, 0x10a8L, 1' &&
        printf '%s\n' "$resource" | grep -qx '1 3 /\* RT_ICON \*/' || fail "zelmar.exe carries no 32 by 32 icon"
    # The oldest Windows it starts on, as its header says, is the one README.txt names.
    oldest=$("$objdump" -p "$exe" | awk '/^MajorSubsystemVersion/ { major = $2 } /^MinorSubsystemVersion/ { print major "." $2 }')
    oldest=$(case $oldest in 6.0) echo "Windows Vista" ;; 6.1) echo "Windows 7" ;; *) echo "Windows $oldest" ;; esac)
    tr -d '\r' <"$unzipped/README.txt" | tr '\n' ' ' | grep -q "start on $oldest or any later Windows" ||
        fail "README.txt does not say that zelmar.exe starts on $oldest or any later Windows, as its header does"
    [ $# -eq 0 ] || check_runs "$@" "$exe"  # the emulator
    passed "$(basename "$zip") holds what it should${1:+, and its zelmar.exe runs}"
fi

source=$1
files="./usr/bin/zelmar ./usr/share/man/man1/zelmar.1.gz ./usr/share/doc/zelmar/copyright
       ./usr/share/doc/zelmar/changelog.gz"

# Checks the .deb given, for the Debian architecture given, with time stamps as given (if they
# are), and runs its program with the emulator command that follows, if any.
check_deb() {
    deb=$1 arch=$2 stamp=$3
    shift 3
    dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time >"$work/members"
    awk '$1 !~ /^d/ { print $NF }' "$work/members" | check_holds "$deb" $files
    check_members "$deb" "$stamp" <"$work/members"
    ar tv "$deb" | awk '$1 != "rw-r--r--" || $2 != "0/0" { exit 1 }' || fail "the ar members' modes or owners are off in $deb"
    # Fields with their values, and fields that must not be empty.
    for field in Package:zelmar Section:math Priority:optional Architecture:"$arch" Version: Maintainer: Description: Depends:; do
        value=$(dpkg-deb -f "$deb" "${field%%:*}")
        [ -n "$value" ] && { [ -z "${field#*:}" ] || [ "$value" = "${field#*:}" ]; } || fail "$deb has no $field"
    done
    # Each dependency is a package of that architecture installed here, where dpkg-shlibdeps found it.
    for name in $(dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{ print $1 }'); do
        dpkg-query -W "$name:$arch" >/dev/null 2>&1 || fail "$deb depends on $name, which is no package of $arch here"
    done
    rm -rf "$work/unpacked"
    dpkg-deb -x "$deb" "$work/unpacked"
    elf=$work/unpacked/usr/bin/zelmar
    check_machine "$elf" "$arch"
    check_runs "$@" "$elf"
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
    else
        skipped="lintian is not installed (Debian package lintian), so no .deb had its verdict"
    fi
}

if [ "$kind" = release ]; then
    release=$build
    version=$(sed -n '1s/^zelmar (\([^)]*\)).*/\1/p' "$source/packaging/changelog")
    stamp=$(date -u -d "@$(git -C "$source" log -1 --format=%ct)" '+%Y-%m-%d %H:%M:%S')
    (cd "$release" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold"
    expected="SHA256SUMS zelmar-$version-win32.zip zelmar-$version-win64.zip zelmar-$version.tar.gz zelmar-$version-web.zip"
    # The web zip: the page, unpacked, is typed at in Chromium against the amd64 archive's program.
    top=zelmar-$version-web
    web=$release/$top.zip
    python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist(), sep="\n")' "$web" |
        check_holds "$web" "$top/zelmar.html" "$top/README.txt" "$top/LICENSE.txt"
    python3 -m zipfile -e "$web" "$work"
    check_filled "$work/$top/README.txt"
    tar -C "$work" -xzf "$release/zelmar-$version-linux-amd64.tar.gz"
    if [ -x /usr/bin/chromedriver ] && /usr/bin/python3 -c 'import selenium' 2>/dev/null; then
        ZELMAR_NATIVE=$work/zelmar-$version-linux-amd64/zelmar /usr/bin/python3 "$source/tests/browser_test.py" \
            "$work/$top/zelmar.html" >"$work/browser" 2>&1 || fail "the page in $web: $(tail -n 30 "$work/browser")"
    else
        skipped="the page in $web was not opened: it needs chromium-driver and python3-selenium"
    fi
    # The source, as git archive gives it; the README's build command builds and starts the program from it.
    tar -C "$work" -xzf "$release/zelmar-$version.tar.gz"
    building=$(build_command "$work/zelmar-$version")
    check_runs sh -c "cd '$work/zelmar-$version' && $building"
    while IFS='|' read -r arch machine emulator; do
        top=zelmar-$version-linux-$arch
        tgz=$release/$top.tar.gz
        TZ=UTC tar -tvzf "$tgz" --full-time | check_members "$tgz" "$stamp"
        tar -tzf "$tgz" | check_holds "$tgz" "$top/" "$top/zelmar" "$top/zelmar.1" "$top/README" "$top/LICENSE"
        rm -rf "$work/static"
        mkdir "$work/static"
        tar -C "$work/static" -xzf "$tgz"
        [ "$(head -n 1 "$work/static/$top/README")" = "Zelmar $version for Linux ($arch)" ] ||
            fail "$tgz's README is not the one for whoever unpacked it"
        check_filled "$work/static/$top/README"
        program=$work/static/$top/zelmar
        check_machine "$program" "$arch" '.*static(-pie|ally) linked'
        check_runs $emulator "$program"
        expected="$expected $top.tar.gz"
        if [ "$arch" != riscv64 ]; then  # Debian 12 has no riscv64
            check_deb "$release/zelmar_${version}_$arch.deb" "$arch" "$stamp" $emulator
            expected="$expected zelmar_${version}_$arch.deb"
        fi
    done <<EOF
$(echo "$architectures" | grep -v '^win')
EOF
    ls "$release" | check_holds "$release" $expected
    passed "every package in $release holds what it should, and its program runs"
fi

cmake --install "$build" --prefix "$work/usr" >/dev/null
(cd "$work" && find usr ! -type d | sed 's|^|./|') | check_holds "the installation" $files

# Under a permissive umask, to show that the package's modes do not depend on it.
(cd "$build" && umask 002 && cpack -G DEB -B "$work/deb" >/dev/null)
check_deb "$(ls "$work"/deb/*.deb)" "$(dpkg --print-architecture)" ""

# In clean clones, in other directories, under other umasks and without SOURCE_DATE_EPOCH: the
# README's build command builds the program and nothing else, and starts it; then two packages
# built there have the same bytes.
if [ ! -e "$source/.git" ]; then
    skipped="${skipped:+$skipped; }$source is no git checkout, so no clean clones were built and compared"
    passed "$(basename "$deb") holds $(echo $files)"
fi
building=$(build_command "$source")
for place in one:022 two/deeper:077; do
    mask=${place#*:} place=${place%:*}
    git clone -q "$source" "$work/$place/zelmar"
    check_runs sh -c "umask $mask && cd '$work/$place/zelmar' && unset SOURCE_DATE_EPOCH && $building"
    [ ! -e "$work/$place/zelmar/build/tests" ] || fail "the README's build command builds the tests too"
    (umask "$mask" && cd "$work/$place/zelmar/build" && unset SOURCE_DATE_EPOCH && cpack -G DEB >/dev/null)
done
cmp "$work"/one/zelmar/build/*.deb "$work"/two/deeper/zelmar/build/*.deb ||
    fail "two builds of the same commit give different packages"
passed "$(basename "$deb") holds $(echo $files), and builds reproducibly"
