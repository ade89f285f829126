#!/usr/bin/env bash
# Builds a static, decoder-only FFmpeg for 64-bit Windows from Debian's FFmpeg
# 8.1.2 source package (unstable's ffmpeg 7:8.1.2-2), for linking into
# ostrelin.dll: the H.264 and AAC decoders, the H.264 parser and what they
# need, nothing else (no programs, devices, formats, network, encoders or
# filters; no GPL, version-3 or nonfree part: it stays LGPL-2.1-or-later).
# The source comes through scripts/sid-apt.sh; the system's sources stay as
# they are. The result is kept in build/ffmpeg-windows and reused while the
# version and the configure line below stay.
#   build-ffmpeg-windows.sh   prints the prefix: include/, lib/libavcodec.a,
#                             lib/libavutil.a, and beside them
#                             built-from (the source package version),
#                             configure-line and COPYING.LGPLv2.1
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

version=7:8.1.2-2
out=$root/build/ffmpeg-windows
configure=(
	--enable-cross-compile --cross-prefix=x86_64-w64-mingw32- --target-os=mingw32 --arch=x86_64
	--enable-static --disable-shared --disable-programs --disable-doc --disable-debug
	--disable-everything --enable-decoder=h264,aac --enable-parser=h264
	--disable-avdevice --disable-avformat --disable-swscale --disable-swresample --disable-avfilter
	--disable-network --disable-autodetect
)
stamp="$version ${configure[*]}"
if [ "$(cat "$out/stamp" 2>/dev/null)" = "$stamp" ] && [ -f "$out/lib/libavcodec.a" ]; then
	echo "$out"
	exit 0
fi

rm -rf "$out"
mkdir -p "$out/src"
(cd "$out/src" && "$root/scripts/sid-apt.sh" source -qq --only-source "ffmpeg=$version" >&2)

source_dir=$(find "$out/src" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -n 1)
cd "$source_dir"
./configure --prefix="$out" "${configure[@]}" >"$out/configure.log" 2>&1
# Nothing but LGPL code: configure says so in its summary.
grep -qx 'License: LGPL version 2.1 or later' "$out/configure.log" || {
	echo "FFmpeg's configuration is not LGPL-2.1-or-later (see $out/configure.log)" >&2
	exit 1
}
make -j "$(nproc)" >"$out/make.log" 2>&1
make install >>"$out/make.log" 2>&1
echo "$version" >"$out/built-from"
echo "./configure ${configure[*]}" >"$out/configure-line"
cp COPYING.LGPLv2.1 "$out/"
echo "$stamp" >"$out/stamp"
echo "$out"
