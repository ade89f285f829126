#!/usr/bin/env bash
# Builds every package of a release into one folder, with their SHA-256 sums:
#   build/dist/ostrelin-<version>/
#     ostrelin_<version>-1~deb12_amd64.deb   Debian 12 (built on this machine)
#     ostrelin_<version>-1~deb13_amd64.deb   Debian 13 (built in scripts/debian-root.sh's obs30 root)
#     ostrelin_<version>-1~sid_amd64.deb     Debian unstable (built in its obs32 root)
#     ostrelin-obs<N.M>-windows-x64.zip      Windows (scripts/build-windows.sh)
#     *setup.exe                             Windows installer, when that build makes one
#     SHA256SUMS
# Each .deb comes from a build with warnings as errors of that release's
# build folder (build/release, build/obs30, build/obs32), made when missing.
# Needs root (the Debian roots). Run the test command first to have every
# package tested; this script only builds.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

scripts/setup.sh
version=$(sed -nE 's/^project\(ostrelin VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
dist=build/dist/ostrelin-$version
rm -rf "$dist"
mkdir -p "$dist"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

# A module-only build where the folder holds none yet.
build_module() {
	[ -f "$1/ostrelin.so" ] && return
	cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRELIN_WERROR=ON -DOSTRELIN_TESTS=OFF \
		-DOSTRELIN_TOOLS=OFF -DOSTRELIN_BENCH=OFF >/dev/null
	cmake --build "$1" -j "$(nproc)" --target ostrelin
}

build_module build/release
scripts/package-deb.sh --build-dir build/release --out "$dist" </dev/null
for stage in obs30 obs32; do
	scripts/debian-root.sh "$stage" run bash -ec "cd /src
		$(declare -f build_module)
		build_module build/$stage
		SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH scripts/package-deb.sh --build-dir build/$stage --out '$dist'" </dev/null
done

scripts/build-windows.sh </dev/null
for file in build/windows/*.zip build/windows/*setup.exe; do
	[ -f "$file" ] && cp "$file" "$dist/"
done

(cd "$dist" && sha256sum -- * >SHA256SUMS)
echo "$repo/$dist:"
cat "$dist/SHA256SUMS"
