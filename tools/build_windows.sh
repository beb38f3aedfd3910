#!/usr/bin/env bash
# Cross-builds blendspin for 64-bit Windows: tools/build_windows.sh [BUILD_DIR]
# (default build-windows/). Installs the Debian packages it misses, builds freeglut 3.4 as a
# static library from Debian's own source package and GoogleTest from the sources Debian
# ships, both for Windows, then the program and its Windows tests. Leaves
# BUILD_DIR/blendspin.exe, statically linked: it needs nothing beside it but the two BMP files.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
ensure_packages "${WINDOWS_BUILD_PACKAGES[@]}"

build=$(realpath -m "${1:-build-windows}")
toolchain=$PWD/tools/mingw-w64-x86_64.cmake
prefix=$build/prefix
jobs=${JOBS:-$(nproc)}
mkdir -p "$build"

# apt-get with a private configuration under $build/apt: the machine's own archives, for
# source packages, without touching the machine's apt state.
private_apt() {
    local apt=$build/apt
    apt-get -o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$apt/sources.list.d" \
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" "$@"
}

# Every deb line of the machine's sources, as deb-src.
write_source_entries() {
    local apt=$build/apt file
    rm -rf "$apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        sed -E 's/^Types:.*/Types: deb-src/' "$file" >"$apt/sources.list.d/$(basename "$file")"
    done
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        sed -nE 's/^deb[[:space:]]/deb-src /p' "$file" >"$apt/sources.list.d/$(basename "$file")"
    done
}

fetch_freeglut_source() {
    local sources=$build/freeglut-source
    if [ -f "$sources/stamp" ]; then return 0; fi
    write_source_entries
    private_apt update -qq
    rm -rf "$sources"
    mkdir -p "$sources"
    (cd "$sources" && private_apt source -qq freeglut >/dev/null)
    touch "$sources/stamp"
}

# cross_build NAME SOURCE_DIR CMAKE_OPTION...: configures, builds and installs into $prefix.
cross_build() {
    local name=$1 source=$2
    shift 2
    if [ -f "$build/$name-build/installed" ]; then return 0; fi
    cmake -S "$source" -B "$build/$name-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >/dev/null
    # Their own warnings are theirs to fix; they go to the log.
    cmake --build "$build/$name-build" -j "$jobs" >"$build/$name-build/build.log" 2>&1 ||
        { tail -n 30 "$build/$name-build/build.log"; return 1; }
    cmake --install "$build/$name-build" >/dev/null
    touch "$build/$name-build/installed"
}

fetch_freeglut_source
freeglut_source=$(find "$build/freeglut-source" -mindepth 1 -maxdepth 1 -type d -name 'freeglut-*')
cross_build freeglut "$freeglut_source" -DFREEGLUT_BUILD_SHARED_LIBS=OFF \
    -DFREEGLUT_BUILD_STATIC_LIBS=ON -DFREEGLUT_BUILD_DEMOS=OFF
cross_build googletest /usr/src/googletest -DBUILD_GMOCK=OFF

# ctest runs the Windows tests under Wine (tools/wine_tests.sh sets up its prefix and display).
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
cmake --build "$build" -j "$jobs"
echo "built $build/blendspin.exe"
