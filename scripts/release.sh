#!/usr/bin/env bash
# Builds every file of a release into one folder, with their SHA-256 sums:
#   build/dist/ostrelin-<version>/
#     ostrelin-<version>-linux-x86_64.tar.xz      any Linux distribution and the OBS
#                                                 Flatpak (scripts/build-portable.sh)
#     ostrelin_<version>-1_amd64.deb              Debian 12 and later, Ubuntu
#                                                 (scripts/package-deb.sh, from the same module)
#     ostrelin-<version>-windows-x64.zip          Windows, portable OBS (scripts/build-windows.sh)
#     ostrelin-<version>-windows-x64-setup.exe    Windows installer
#     ostrelin-<version>-source.tar.xz            the sources of all of the above:
#                                                 Ostrelin's (git archive of HEAD) and
#                                                 Debian's ffmpeg source package the
#                                                 static FFmpeg inside was built from
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

# The sources the binaries' notices promise, at the versions inside them.
source_name=ostrelin-$version-source
staging=build/dist/$source_name
rm -rf "$staging"
mkdir -p "$staging/third-party/ffmpeg"
git archive --format=tar --prefix="$source_name/" HEAD | tar -x -C build/dist
ffmpeg_version=$(cat build/ffmpeg-linux/built-from)
[ "$(cat build/ffmpeg-windows/built-from)" = "$ffmpeg_version" ] || {
	echo "release.sh: the Windows and Linux FFmpeg were built from different sources" >&2
	exit 1
}
# The .dsc and every file it lists (the upstream tarball, its signature, the
# Debian changes).
dsc=build/ffmpeg-source/ffmpeg_${ffmpeg_version#*:}.dsc
cp "$dsc" "$staging/third-party/ffmpeg/"
sed -n '/^Checksums-Sha256:/,/^[^ ]/p' "$dsc" | awk '/^ / { print $3 }' | while read -r file; do
	cp "build/ffmpeg-source/$file" "$staging/third-party/ffmpeg/"
done
cat >"$staging/third-party/README.txt" <<README
The sources of the libraries linked statically into Ostrelin $version's
Windows DLL, portable Linux module and .deb:

  ffmpeg/  Debian's ffmpeg source package, version $ffmpeg_version (its .dsc,
           upstream tarball and Debian changes), which scripts/build-ffmpeg.sh
           configures and builds: unpack it with dpkg-source -x ffmpeg_*.dsc.
README
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner -C build/dist -cJf \
	"$dist/$source_name.tar.xz" "$source_name"
rm -rf "$staging"

(cd "$dist" && sha256sum -- * >SHA256SUMS)
echo "$repo/$dist:"
cat "$dist/SHA256SUMS"
