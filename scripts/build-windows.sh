#!/usr/bin/env bash
# Cross-builds the plug-in for 64-bit Windows with mingw-w64, for every OBS
# for Windows from 29.0 on, and packs it two ways (<version>: the project's, from
# CMakeLists.txt):
#   build/windows/ostrelin.dll
#   build/windows/ostrelin-<version>-windows-x64.zip        (portable OBS)
#     obs-plugins/64bit/ostrelin.dll
#     data/obs-plugins/ostrelin/locale/*.ini
#     data/obs-plugins/ostrelin/{LICENSE,COPYING.LGPLv2.1,NOTICE}.txt
#   build/windows/ostrelin-<version>-windows-x64-setup.exe  (NSIS, for all users:
#     %ProgramData%\obs-studio\plugins\ostrelin\, cmake/windows/ostrelin.nsi)
# It compiles against libobs 29.0.2's headers (Debian 12's libobs-dev) and
# links a static, decoder-only FFmpeg 8.1.2 into the DLL
# (scripts/build-ffmpeg-windows.sh). libobs 32.2.2's headers and library
# (Debian unstable's libobs-dev and libobs0t64, unpacked into build/obs32-sdk,
# never installed) are fetched too: the test command checks the DLL's libobs
# imports against that library's exports and runs the DLL beside a stand-in
# obs.dll compiled against those headers.
# Extra arguments go to CMake's configure step, e.g. other libobs headers:
#   -DOSTRELIN_OBS_INCLUDE_DIR=<libobs headers>
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

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

ffmpeg=$(scripts/build-ffmpeg-windows.sh)

# The headers: libobs 29.0.2's unless the arguments name others (given
# explicitly, so that a folder an earlier run left in the cache is not reused).
sdk_args=(-DOSTRELIN_FFMPEG_DIR="$ffmpeg")
case " $* " in
*" -DOSTRELIN_OBS_INCLUDE_DIR="*) ;;
*) sdk_args+=(-DOSTRELIN_OBS_INCLUDE_DIR=/usr/include/obs) ;;
esac

out=build/windows
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
	-DCMAKE_BUILD_TYPE=Release -DOSTRELIN_WERROR=ON -DOSTRELIN_TESTS=OFF -DOSTRELIN_TOOLS=OFF \
	-DOSTRELIN_BENCH=OFF "${sdk_args[@]}" "$@" >/dev/null
cmake --build "$out" -j "$(nproc)"

tests/windows/check-dll.sh "$out/ostrelin.dll" cmake/windows/ostrelin.def

version=$(sed -nE 's/^project\(ostrelin VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
commit=$(git rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
obs_config="$(sed -nE 's/^OSTRELIN_OBS_INCLUDE_DIR:[A-Z]+=//p' "$out/CMakeCache.txt")/obs-config.h"
obs_api=$(sed -nE 's/^#define LIBOBS_API_(MAJOR|MINOR|PATCH)_VER +([0-9]+).*/\2/p' "$obs_config" | paste -sd.)
ffmpeg_version=$(sed -nE 's/^#define FFMPEG_VERSION "([^"]+)".*/\1/p' "$ffmpeg/include/libavutil/ffversion.h")

# The licences and the notice, in both packages.
licences="$out/licences"
rm -rf "$licences"
mkdir -p "$licences"
cp LICENSE "$licences/LICENSE.txt"
cp "$ffmpeg/COPYING.LGPLv2.1" "$licences/COPYING.LGPLv2.1.txt"
cat >"$licences/NOTICE.txt" <<EOF
Ostrelin $version for OBS Studio on Windows (64-bit)

Ostrelin is free software under the GNU General Public License, version 2 or
(at your option) any later version: see LICENSE.txt. This build was made
from the Ostrelin source repository at version $version (commit $commit),
against libobs $obs_api's headers. That source is offered with this build
(GPL section 3); with scripts/build-windows.sh it rebuilds this DLL, with a
changed FFmpeg too.

ostrelin.dll contains FFmpeg $ffmpeg_version (its libavcodec and libavutil
libraries, linked statically), under the GNU Lesser General Public License,
version 2.1 or later: see COPYING.LGPLv2.1.txt. It was built from Debian's
ffmpeg source package, version $(cat "$ffmpeg/built-from"), with:

  $(cat "$ffmpeg/configure-line")

FFmpeg's source: https://ffmpeg.org/download.html; Debian's source package
(ffmpeg_${ffmpeg_version}.orig.tar.xz and its Debian changes):
https://snapshot.debian.org/package/ffmpeg/$(sed 's/:/%3A/' "$ffmpeg/built-from")/
EOF

zip="ostrelin-$version-windows-x64.zip"
stage="$out/package"
rm -rf "$stage" "$out"/ostrelin-*windows-x64.zip "$out"/ostrelin-*windows-x64-setup.exe
mkdir -p "$stage/obs-plugins/64bit" "$stage/data/obs-plugins/ostrelin/locale"
cp "$out/ostrelin.dll" "$stage/obs-plugins/64bit/"
cp data/locale/*.ini "$stage/data/obs-plugins/ostrelin/locale/"
cp "$licences"/*.txt "$stage/data/obs-plugins/ostrelin/"
(cd "$stage" && zip -q -r -X "../$zip" obs-plugins data)

setup="ostrelin-$version-windows-x64-setup.exe"
makensis -V2 -NOCD -DVERSION="$version" -DDLL="$out/ostrelin.dll" -DLOCALE="data/locale" \
	-DLICENCES="$licences" -DOUTFILE="$out/$setup" cmake/windows/ostrelin.nsi
echo "built $out/ostrelin.dll ($(stat -c %s "$out/ostrelin.dll") bytes), $out/$zip and $out/$setup"
