#!/usr/bin/env bash
# Builds FFmpeg's avcodec and avutil DLLs for 64-bit Windows from Debian's
# FFmpeg 8.1.2 source package (unstable's ffmpeg 7:8.1.2-2: the FFmpeg that
# OBS 32 ships for Windows), with only what the plug-in uses: the H.264 and
# AAC decoders and the H.264 parser. The source comes through scripts/sid-apt.sh;
# the system's sources stay as they are. The result, headers included, is kept
# in build/ffmpeg-windows and reused while the version below stays.
#   build-ffmpeg-windows.sh   prints the folder holding the DLLs (<prefix>/bin;
#                             the headers are in <prefix>/include)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

version=7:8.1.2-2
out=$root/build/ffmpeg-windows
stamp="$out/built-from"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && ls "$out"/bin/avcodec-*.dll >/dev/null 2>&1; then
	echo "$out/bin"
	exit 0
fi

rm -rf "$out"
mkdir -p "$out/src"
(cd "$out/src" && "$root/scripts/sid-apt.sh" source -qq --only-source "ffmpeg=$version" >&2)

source_dir=$(find "$out/src" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -n 1)
cd "$source_dir"
./configure --prefix="$out" --enable-cross-compile --cross-prefix=x86_64-w64-mingw32- --target-os=mingw32 \
	--arch=x86_64 --disable-everything --enable-decoder=h264,aac --enable-parser=h264 --enable-shared \
	--disable-static --disable-programs --disable-doc --disable-avdevice --disable-avformat --disable-swscale \
	--disable-swresample --disable-avfilter --disable-network --disable-autodetect \
	--extra-ldflags=-static-libgcc >"$out/configure.log" 2>&1
make -j "$(nproc)" >"$out/make.log" 2>&1
make install >>"$out/make.log" 2>&1
echo "$version" >"$stamp"
echo "$out/bin"
