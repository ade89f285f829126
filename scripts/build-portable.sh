#!/usr/bin/env bash
# Builds the portable Linux module, one ostrelin.so for every Linux OBS from
# 29.0 on (any distribution, the Flatpak too; see cmake/portable.cmake), and
# packs it for users (<version>: the project's, from CMakeLists.txt):
#   build/portable/ostrelin.so
#   build/portable/ostrelin-<version>-linux-x86_64.tar.xz
#     ostrelin-<version>-linux-x86_64/
#       install.sh                          run as the user: installs into each
#                                           OBS it finds (packaging/linux/install.sh)
#       ostrelin/bin/64bit/ostrelin.so      the plug-in folder OBS reads
#       ostrelin/data/locale/*.ini
#       ostrelin/data/manifest.json
#       LICENSE.txt COPYING.LGPLv2.1.txt NOTICE.txt
# It compiles against libobs 29.0.2's headers (Debian 12's libobs-dev) and
# links a static, decoder-only FFmpeg 8.1.2 into the module
# (scripts/build-ffmpeg.sh linux, kept in build/ffmpeg-linux). The module is
# stripped; SOURCE_DATE_EPOCH, when set, dates the tarball's files.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/common.sh

scripts/setup.sh
ffmpeg=$(scripts/build-ffmpeg.sh linux)

out=build/portable
cmake --preset portable -DOSTRELIN_FFMPEG_DIR="$ffmpeg" >/dev/null
cmake --build "$out" -j "$(nproc)" --target ostrelin
strip --strip-unneeded --remove-section=.comment "$out/ostrelin.so"

version=$(ostrelin_version)
name=ostrelin-$version-linux-x86_64
stage=$out/package/$name
rm -rf "$out/package" "$out"/ostrelin-*-linux-x86_64.tar.xz
mkdir -p "$stage/ostrelin/bin/64bit"
install -m 0755 "$out/ostrelin.so" "$stage/ostrelin/bin/64bit/ostrelin.so"
cp -r "$out/data" "$stage/ostrelin/data"
chmod -R u=rwX,go=rX "$stage/ostrelin/data"
install -m 0755 packaging/linux/install.sh "$stage/install.sh"
scripts/write-notice.sh "$out/licences" "OBS Studio on Linux (x86-64)" ostrelin.so "$ffmpeg" /usr/include/obs \
	scripts/build-portable.sh
cp "$out/licences"/*.txt "$stage/"

epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
tar -C "$out/package" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" -cf - "$name" |
	xz -9 >"$out/$name.tar.xz"
echo "built $out/ostrelin.so ($(stat -c %s "$out/ostrelin.so") bytes) and $out/$name.tar.xz"
