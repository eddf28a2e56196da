#!/bin/sh
# Makes the whole release in one folder: the source, a .deb for each Debian architecture, a static
# archive for each Linux target, both Windows zips, the web zip, and SHA256SUMS over them. Every time stamp is the last
# commit's (or SOURCE_DATE_EPOCH's), so any clone of a commit gives the same bytes.
# Usage: packaging/release.sh OUT [TARGET...]
#   TARGET: native, or a triple that cmake/toolchains/cross.cmake knows; all of them by default.
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
shift
[ $# -gt 0 ] || set -- native i686-linux-gnu aarch64-linux-gnu arm-linux-gnueabihf s390x-linux-gnu \
    powerpc64le-linux-gnu riscv64-linux-gnu i686-w64-mingw32 x86_64-w64-mingw32 wasm32-emscripten
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
version=$(sed -n '1s/^zelmar (\([^)]*\)).*/\1/p' "$source/packaging/changelog")
umask 022

# The source, as git archive gives it for the commit checked out (whatever git's own settings).
git -C "$source" -c tar.umask=022 archive --format=tar --prefix="zelmar-$version/" HEAD | gzip -9n \
    >"$out/zelmar-$version.tar.gz"

# Configures and builds in DIR for TARGET, with the options given.
build() {
    dir=$1 target=$2
    shift 2
    if [ "$target" != native ]; then
        set -- --toolchain "$source/cmake/toolchains/cross.cmake" -DZELMAR_TARGET="$target" "$@"
    fi
    cmake -S "$source" -B "$dir" -DBUILD_TESTING=OFF "$@" >/dev/null
    cmake --build "$dir" --parallel 2 >/dev/null
}

# Has cpack make the package of the build in DIR, of the kind given, and moves it to the release.
package() {
    (cd "$1" && cpack -G "$2" -B "$1/packages" >/dev/null)
    mv "$1"/packages/*.* "$out"
}

for target in "$@"; do
    started=$(date +%s)
    case $target in
    *-w64-mingw32)
        build "$work/$target" "$target"
        package "$work/$target" ZIP
        ;;
    wasm32-emscripten)
        # The page's terminal, as web/package-lock.json pins it.
        [ -d "$source/web/node_modules" ] || npm ci --prefix "$source/web" --no-audit --no-fund --loglevel=error
        build "$work/$target" "$target"
        package "$work/$target" ZIP
        ;;
    *)
        if [ "$target" = native ]; then
            arch=$(dpkg-architecture -qDEB_HOST_ARCH)
        else
            arch=$(dpkg-architecture -t "$target" -qDEB_HOST_ARCH 2>/dev/null)
        fi
        # A .deb for each architecture of Debian 12, whose dependencies come from that architecture's
        # own C and C++ libraries; Debian 12 has no riscv64, so that target gets its archive only.
        if [ "$arch" != riscv64 ]; then
            dpkg-query -W "libc6:$arch" "libstdc++6:$arch" >/dev/null 2>&1 ||
                { echo "release.sh: the .deb for $arch needs libc6:$arch and libstdc++6:$arch (see README)" >&2; exit 1; }
            build "$work/$target" "$target"
            package "$work/$target" DEB
        fi
        # The program linked statically, for any Linux of that processor.
        name=zelmar-$version-linux-$arch
        build "$work/$target-static" "$target" -DZELMAR_STATIC=ON
        cmake --install "$work/$target-static" --prefix "$work/$name" --strip >/dev/null
        tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner --mode=go-w --mtime="@$SOURCE_DATE_EPOCH" \
            --format=gnu -cf - "$name" | gzip -9n >"$out/$name.tar.gz"
        ;;
    esac
    echo "release.sh: $target in $(($(date +%s) - started)) s"
done
cd "$out"
LC_ALL=C sha256sum $(LC_ALL=C ls | grep -E '\.(deb|tar\.gz|zip)$') >SHA256SUMS
echo "release.sh: $(grep -c . SHA256SUMS) files and SHA256SUMS in $out"
