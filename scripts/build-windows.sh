#!/usr/bin/env bash
# Cross-builds the plug-in for 64-bit Windows with mingw-w64 and packs it as
# OBS on Windows finds a plug-in:
#   build/windows/ostrelin.dll
#   build/windows/ostrelin-obs<N.M>-windows-x64.zip   (N.M: the libobs version compiled against)
#     obs-plugins/64bit/ostrelin.dll
#     data/obs-plugins/ostrelin/locale/*.ini
# By default it builds for OBS 32.2: libobs 32.2.2's headers from Debian
# unstable's libobs-dev (unpacked into build/obs32-sdk, never installed; the
# same version's libobs0t64 beside it, whose export table the test command
# checks the import list against) and FFmpeg 8.1.2 (scripts/build-ffmpeg-windows.sh).
# Extra arguments go to CMake's configure step; to build for another OBS, give
# its SDK (see the README):
#   -DOSTRELIN_OBS_INCLUDE_DIR=<libobs headers> -DOSTRELIN_FFMPEG_INCLUDE_DIR=<folder of libavcodec/>
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

# The SDK arguments: OBS 32's unless the arguments name other headers. The DLL
# must import exactly the DLLs of the FFmpeg it is built for.
sdk_args=()
case " $* " in
*" -DOSTRELIN_OBS_INCLUDE_DIR="*) ;;
*) sdk_args+=(-DOSTRELIN_OBS_INCLUDE_DIR="$sdk/root/usr/include/obs") ;;
esac
ffmpeg_bin=
case " $* " in
*" -DOSTRELIN_FFMPEG_INCLUDE_DIR="*) ;;
*)
	ffmpeg_bin=$(scripts/build-ffmpeg-windows.sh)
	sdk_args+=(-DOSTRELIN_FFMPEG_INCLUDE_DIR="${ffmpeg_bin%/bin}/include")
	;;
esac

out=build/windows
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
	-DCMAKE_BUILD_TYPE=Release -DOSTRELIN_WERROR=ON -DOSTRELIN_TESTS=OFF -DOSTRELIN_TOOLS=OFF \
	-DOSTRELIN_BENCH=OFF "${sdk_args[@]}" "$@" >/dev/null
cmake --build "$out" -j "$(nproc)"

cached() { sed -nE "s/^$1:[A-Z]+=//p" "$out/CMakeCache.txt"; }
if [ -n "$ffmpeg_bin" ]; then
	ffmpeg_dlls=$(cd "$ffmpeg_bin" && ls avcodec-*.dll avutil-*.dll)
else
	ffmpeg_dlls=$(cached OSTRELIN_FFMPEG_DLLS | tr ";" " ")
fi
# shellcheck disable=SC2086
tests/windows/check-dll.sh "$out/ostrelin.dll" cmake/windows/ostrelin.def obs.dll $ffmpeg_dlls

# The zip is named after the libobs version compiled against, major and minor:
# libobs refuses a source record larger than its own, and OBS 32.2's is larger
# than 32.1's.
obs_config="$(cached OSTRELIN_OBS_INCLUDE_DIR)/obs-config.h"
obs_line=$(sed -nE 's/^#define LIBOBS_API_MAJOR_VER ([0-9]+).*/\1/p' "$obs_config").$(sed -nE 's/^#define LIBOBS_API_MINOR_VER ([0-9]+).*/\1/p' "$obs_config")
zip="ostrelin-obs$obs_line-windows-x64.zip"
stage="$out/package"
rm -rf "$stage" "$out"/ostrelin-*windows-x64.zip
mkdir -p "$stage/obs-plugins/64bit" "$stage/data/obs-plugins/ostrelin/locale"
cp "$out/ostrelin.dll" "$stage/obs-plugins/64bit/"
cp data/locale/*.ini "$stage/data/obs-plugins/ostrelin/locale/"
(cd "$stage" && zip -q -r -X "../$zip" obs-plugins data)
echo "built $out/ostrelin.dll and $out/$zip"
