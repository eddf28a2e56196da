#!/bin/sh
# Installs the build and packages it as a .deb, then checks what each holds:
# the program, which runs, and a manual page that renders without warnings.
# Usage: package_test.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

# Runs an installed zelmar and checks its report.
check_runs() {
    printf '2\n1\n' | "$1" | grep -qx 'Pi=2.6666666666666669627261399000417441129684448242188' ||
        fail "$1 does not report as it should"
}

# Renders a manual page the way lintian does; any warning is a failure.
check_renders() {
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$1: $warnings"
}

cmake --install "$build" --prefix "$work/usr" >/dev/null
check_runs "$work/usr/bin/zelmar"
check_renders "$work/usr/share/man/man1/zelmar.1.gz"

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/*.deb)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort | tr '\n' ' ')
[ "$files" = "./usr/bin/zelmar ./usr/share/man/man1/zelmar.1.gz " ] || fail "the package holds: $files"
for field in Package:zelmar Section:math Priority:optional; do
    [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "${field#*:}" ] || fail "$field is not in the package"
done
for field in Version Maintainer Description Depends; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package has no $field"
done
dpkg-deb -x "$deb" "$work/unpacked"
check_runs "$work/unpacked/usr/bin/zelmar"
check_renders "$work/unpacked/usr/share/man/man1/zelmar.1.gz"
echo "package_test: $(basename "$deb") holds $files"
