#!/usr/bin/env bash
# Builds every file of a release into one folder, with their SHA-256 sums:
#   build/dist/ostrelin-<version>/
#     ostrelin-<version>-linux-x86_64.tar.xz      any Linux distribution and the OBS
#                                                 Flatpak (scripts/build-portable.sh)
#     ostrelin_<version>-1_amd64.deb              Debian 12 and later, Ubuntu
#                                                 (scripts/package-deb.sh, from the same module)
#     ostrelin-<version>-windows-x64.zip          Windows, portable OBS (scripts/build-windows.sh)
#     ostrelin-<version>-windows-x64-setup.exe    Windows installer
#     SHA256SUMS
# It refuses a version that has no section in CHANGELOG.md.
# Each build has a folder of its own (build/portable, build/windows); the
# developers' build/release is not touched. Run the test command first to
# have every file tested; this script only builds. Installs what it needs
# through scripts/setup.sh (root, or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
. scripts/lib/common.sh

version=$(ostrelin_version)
# A version users cannot read about is not released.
if ! grep -qE "^## \[${version//./\\.}\]" CHANGELOG.md; then
	echo "release.sh: CHANGELOG.md has no section for $version (a line \"## [$version] - date\")" >&2
	exit 1
fi
scripts/setup.sh
dist=build/dist/ostrelin-$version
rm -rf "$dist"
mkdir -p "$dist"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

scripts/build-portable.sh </dev/null
cp build/portable/ostrelin-"$version"-linux-x86_64.tar.xz "$dist/"
scripts/package-deb.sh --build-dir build/portable --out "$dist" </dev/null

scripts/build-windows.sh </dev/null
for file in build/windows/ostrelin-"$version"-windows-x64.zip build/windows/ostrelin-"$version"-windows-x64-setup.exe; do
	cp "$file" "$dist/"
done

(cd "$dist" && sha256sum -- * >SHA256SUMS)
echo "$repo/$dist:"
cat "$dist/SHA256SUMS"
