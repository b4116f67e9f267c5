#!/usr/bin/env bash
# Cross-builds the Windows programs and installer on Debian 12 with MinGW-w64:
#   tools/build-windows.sh [BUILD_DIR]      (default build-windows)
# gives BUILD_DIR/ZelvorUpdater_artefacts/Release/ZelvorUpdater.exe, the demo, the driver and
# the unit tests as .exe files, and the installer BUILD_DIR/ZelvorUpdater-<version>-setup.exe. libpng and libjpeg-turbo are built
# for the target from Debian's own source packages, because Debian ships no MinGW builds of them
# and its JUCE has their bundled copies removed. They are the same for every checkout with the
# same build rules, so, as the compiler cache is, they are kept once for all clones in the
# user's cache (ZELVOR_WINDOWS_DEPS_DIR to choose another folder), under a key made of this
# script and the toolchain file.
# With a certificate (ZELVOR_SIGN_CERT and ZELVOR_SIGN_KEY, or ZELVOR_SIGN_PKCS12 and
# ZELVOR_SIGN_PASSWORD: see tools/sign-windows.sh) the updater, its installer and its uninstaller
# are signed.
set -eu
cd "$(dirname "$0")/.."
source_dir=$PWD
build_dir=$(realpath -m "${1:-build-windows}")
jobs=${JOBS:-2}
toolchain=$source_dir/cmake/mingw-w64.cmake
key=$(cat "$source_dir/tools/build-windows.sh" "$toolchain" | sha1sum | cut -c1-12)
deps=$(realpath -m "${ZELVOR_WINDOWS_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zelvor-updater/windows-codecs-$key}")
prefix=$deps/prefix

for tool in x86_64-w64-mingw32-g++-posix makensis dpkg-source; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run tools/install-deps.sh" >&2; exit 1; }
done

# Debian's source packages, through an apt configuration of our own: the machine's apt
# sources are left as they are.
fetch_sources()
{
    local apt=$deps/apt
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$deps/src"
    cat >"$apt/sources.list" <<SOURCES
deb-src http://deb.debian.org/debian bookworm main
SOURCES
    local options=(-q -o "Dir::Etc::sourcelist=$apt/sources.list" -o Dir::Etc::sourceparts=-
                   -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
    apt-get "${options[@]}" update
    (cd "$deps/src" && apt-get "${options[@]}" source libpng1.6 libjpeg-turbo)
}

# The codecs go through the compiler cache too, as the project does.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache)

cross_build() # name source-dir cmake-options...
{
    local name=$1 src=$2
    shift 2
    cmake -S "$src" -B "$deps/build-$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
          ${launcher[@]+"${launcher[@]}"} \
          -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON "$@" >/dev/null
    cmake --build "$deps/build-$name" -j"$jobs" >/dev/null
    cmake --install "$deps/build-$name" >/dev/null
}

# One build of the codecs at a time: two clones' test runs may reach this together.
mkdir -p "$(dirname "$deps")"
exec 9>"$deps.lock"
flock 9
if [ ! -f "$prefix/lib/libpng16.a" ] || [ ! -f "$prefix/lib/libjpeg.a" ] || [ ! -f "$prefix/include/jpegint.h" ] \
    || ! compgen -G "$deps/src/*.dsc" >/dev/null; then
    echo "== image codecs for Windows, from Debian's source packages"
    rm -rf "$deps"
    fetch_sources
    png_src=$(find "$deps/src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -n 1)
    jpeg_src=$(find "$deps/src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n 1)
    [ -n "$png_src" ] && [ -n "$jpeg_src" ] || { echo "source packages not unpacked under $deps/src" >&2; exit 1; }
    echo "libpng: $(basename "$png_src"), libjpeg-turbo: $(basename "$jpeg_src")"

    cross_build png "$png_src" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
                -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON
    cross_build jpeg "$jpeg_src" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF

    # JUCE reads jpeglib.h inside a namespace of its own after the Windows headers, whose
    # rpcndr.h defines a global 'boolean'; jconfig.h then skips its typedef and the namespace
    # lacks the type. The same typedef, given always, is what the library was built with.
    perl -0pi -e 's/#ifndef __RPCNDR_H__[^\n]*\n(typedef unsigned char boolean;)\n#endif/$1/' "$prefix/include/jconfig.h"
    grep -q '^typedef unsigned char boolean;' "$prefix/include/jconfig.h" \
        || { echo "jconfig.h: the boolean typedef was not found" >&2; exit 1; }
    # JUCE's JPEG loader also needs jpegint.h, which the library does not install.
    cp "$jpeg_src/jpegint.h" "$prefix/include/"
fi
flock -u 9

echo "== Windows build"
sign_tool=""
if [ -n "${ZELVOR_SIGN_PKCS12:-}" ] || [ -n "${ZELVOR_SIGN_CERT:-}" ]; then
    command -v osslsigncode >/dev/null || { echo "osslsigncode is missing: run tools/install-deps.sh" >&2; exit 1; }
    sign_tool=$source_dir/tools/sign-windows.sh
    echo "signing with ${ZELVOR_SIGN_PKCS12:-$ZELVOR_SIGN_CERT}"
else
    echo "no signing certificate (ZELVOR_SIGN_CERT and ZELVOR_SIGN_KEY, or ZELVOR_SIGN_PKCS12): not signed"
fi
# JUCE's CMake package sits in the build machine's multiarch folder, which a cross-build does not search.
juce_config=$(dpkg -L juce-modules-source | grep '/JUCEConfig.cmake$' | head -n 1)
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DJUCE_DIR="$(dirname "$juce_config")" -DZELVOR_WINDOWS_DEPS="$prefix" -DZELVOR_SIGN_TOOL="$sign_tool" >/dev/null
cmake --build "$build_dir" -j"$jobs" # the installer too, signed with the program when sign_tool is set

ls -l "$build_dir"/ZelvorUpdater_artefacts/Release/*.exe "$build_dir"/demo/*_artefacts/Release/*.exe "$build_dir"/driver/zelvor-virtual-run.exe \
      "$build_dir"/tests/zelvor_tests.exe "$build_dir"/*-setup.exe
