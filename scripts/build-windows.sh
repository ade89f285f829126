#!/usr/bin/env bash
# Cross-builds the plug-in for 64-bit Windows with mingw-w64, for every OBS
# for Windows from 29.0 on, and packs it two ways (<version>: the project's, from
# CMakeLists.txt):
#   build/windows/ostrelin.dll
#   build/windows/ostrelin-<version>-windows-x64.zip        (portable OBS)
#     obs-plugins/64bit/ostrelin.dll
#     data/obs-plugins/ostrelin/locale/*.ini
#     data/obs-plugins/ostrelin/manifest.json
#     data/obs-plugins/ostrelin/{LICENSE,COPYING.LGPLv2.1,NOTICE}.txt
#   build/windows/ostrelin-<version>-windows-x64-setup.exe  (NSIS, for all users:
#     %ProgramData%\obs-studio\plugins\ostrelin\, cmake/windows/ostrelin.nsi)
# It compiles against libobs 29.0.2's headers (Debian 12's libobs-dev) and
# links a static, decoder-only FFmpeg 8.1.2 into the DLL
# (scripts/build-ffmpeg.sh windows). libobs 32.2.2's headers and library
# (Debian unstable's libobs-dev and libobs0t64, unpacked into build/obs32-sdk,
# never installed) are fetched too: the test command checks the DLL's libobs
# imports against that library's exports and runs the DLL beside a stand-in
# obs.dll compiled against those headers.
# Extra arguments go to CMake's configure step, e.g. other libobs headers:
#   -DOSTRELIN_OBS_INCLUDE_DIR=<libobs headers>
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/lib/common.sh

scripts/setup.sh

obs_version=32.2.2+ds-1+b2
sdk=$root/build/obs32-sdk
if [ "$(cat "$sdk/version" 2>/dev/null)" != "$obs_version" ]; then
	rm -rf "$sdk"
	mkdir -p "$sdk/debs"
	(cd "$sdk/debs" && "$root/scripts/sid-apt.sh" download -qq "libobs-dev=$obs_version" "libobs0t64=$obs_version")
	for deb in "$sdk"/debs/*.deb; do dpkg-deb -x "$deb" "$sdk/root"; done
	echo "$obs_version" >"$sdk/version"
fi

ffmpeg=$(scripts/build-ffmpeg.sh windows)

# The headers: libobs 29.0.2's (the preset names them, so a folder an earlier
# run left in the cache is not reused) unless the arguments name others.
out=build/windows
cmake --preset windows -DOSTRELIN_FFMPEG_DIR="$ffmpeg" "$@" >/dev/null
cmake --build "$out" -j "$(nproc)"

tests/windows/check-dll.sh "$out/ostrelin.dll" cmake/windows/ostrelin.def

version=$(ostrelin_version)
obs_include=$(sed -nE 's/^OSTRELIN_OBS_INCLUDE_DIR:[A-Z]+=//p' "$out/CMakeCache.txt")

# The licences and the notice, in both packages.
licences="$out/licences"
scripts/write-notice.sh "$licences" "OBS Studio on Windows (64-bit)" ostrelin.dll "$ffmpeg" "$obs_include" \
	scripts/build-windows.sh

zip="ostrelin-$version-windows-x64.zip"
stage="$out/package"
rm -rf "$stage" "$out"/ostrelin-*windows-x64.zip "$out"/ostrelin-*windows-x64-setup.exe
mkdir -p "$stage/obs-plugins/64bit" "$stage/data/obs-plugins/ostrelin/locale"
cp "$out/ostrelin.dll" "$stage/obs-plugins/64bit/"
cp data/locale/*.ini "$stage/data/obs-plugins/ostrelin/locale/"
cp "$out/data/manifest.json" "$stage/data/obs-plugins/ostrelin/"
cp "$licences"/*.txt "$stage/data/obs-plugins/ostrelin/"
(cd "$stage" && zip -q -r -X "../$zip" obs-plugins data)

setup="ostrelin-$version-windows-x64-setup.exe"
makensis -V2 -NOCD -DVERSION="$version" -DDLL="$out/ostrelin.dll" -DLOCALE="data/locale" -DMANIFEST="$out/data/manifest.json" \
	-DLICENCES="$licences" -DOUTFILE="$out/$setup" cmake/windows/ostrelin.nsi
echo "built $out/ostrelin.dll ($(stat -c %s "$out/ostrelin.dll") bytes), $out/$zip and $out/$setup"
