#!/usr/bin/env bash
# Builds the Debian package of the updater:
#   tools/build-deb.sh [BUILD_DIR]      (default build-deb)
# gives BUILD_DIR/packages/zelvor-updater_<version>-<revision>_<arch>.deb (a Release build with
# Debian's build flags, stripped, carrying its source archive) and beside it
# zelvor-updater-dbgsym_<version>-<revision>_<arch>.deb, the program's detached debug symbols.
# A BUILD_DIR that is already a Release build (the test command's plain build) is packed as it
# is; a new one is configured for the updater alone.
set -eu
cd "$(dirname "$0")/.."
build_dir=${1:-build-deb}
jobs=${JOBS:-2}

for tool in cpack dpkg-shlibdeps dpkg-buildflags objcopy; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run tools/install-deps.sh" >&2; exit 1; }
done

if [ -f "$build_dir/CMakeCache.txt" ]; then
    grep -qx "CMAKE_BUILD_TYPE:STRING=Release" "$build_dir/CMakeCache.txt" ||
        { echo "$build_dir is not a Release build: the package is made from one" >&2; exit 1; }
else
    # Only the updater and its source archive are built: packaging does not wait for the demo,
    # the tools and the tests.
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DZELVOR_BUILD_TESTS=OFF \
          -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
fi
cmake --build "$build_dir" --target ZelvorUpdater source-archive -j"$jobs"
rm -f "$build_dir"/packages/*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
ls -l "$build_dir"/packages/*.deb
