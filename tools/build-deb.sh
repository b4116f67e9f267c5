#!/usr/bin/env bash
# Builds the Debian package of the updater:
#   tools/build-deb.sh [BUILD_DIR]      (default build-deb)
# gives BUILD_DIR/packages/zelvor-updater_<version>-1_<arch>.deb (a Release build, stripped).
set -eu
cd "$(dirname "$0")/.."
build_dir=${1:-build-deb}
jobs=${JOBS:-2}

for tool in cpack dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run tools/install-deps.sh" >&2; exit 1; }
done

# Only the updater is built: packaging does not wait for the demo, the tools and the tests.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DZELVOR_BUILD_TESTS=OFF \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build_dir" --target ZelvorUpdater -j"$jobs"
rm -f "$build_dir"/packages/*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
ls -l "$build_dir"/packages/*.deb
