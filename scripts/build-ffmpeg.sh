#!/usr/bin/env bash
# Builds a static, decoder-only FFmpeg from Debian's FFmpeg 8.1.2 source
# package (unstable's ffmpeg 7:8.1.2-2), for linking into a module that
# carries its own decoders: the H.264, H.265 (HEVC) and AAC decoders, the
# H.264 and H.265 parsers and what they need, nothing else (no programs,
# devices, formats, network, encoders or filters; no GPL, version-3 or nonfree
# part: it stays LGPL-2.1-or-later). scripts/write-notice.sh names the
# decoders and parsers from the configure line kept beside the build.
#   build-ffmpeg.sh windows   64-bit Windows (mingw-w64), for ostrelin.dll:
#                             build/ffmpeg-windows
#   build-ffmpeg.sh linux     Linux x86-64, position-independent, for the
#                             portable ostrelin.so: build/ffmpeg-linux
# prints the prefix: include/, lib/libavcodec.a, lib/libavutil.a, and beside
# them built-from (the source package version), configure-line and
# COPYING.LGPLv2.1.
# The source comes once through scripts/sid-apt.sh into build/ffmpeg-source;
# the system's sources stay as they are. Each build is kept and reused while
# the version, its configure line and this script stay.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

version=7:8.1.2-2
decoders=(
	--enable-static --disable-shared --disable-programs --disable-doc --disable-debug
	--disable-everything --enable-decoder=h264,hevc,aac --enable-parser=h264,hevc
	--disable-avdevice --disable-avformat --disable-swscale --disable-swresample --disable-avfilter
	--disable-network --disable-autodetect
)
case "${1:-}" in
windows)
	out=$root/build/ffmpeg-windows
	configure=(--enable-cross-compile --cross-prefix=x86_64-w64-mingw32- --target-os=mingw32 --arch=x86_64
		"${decoders[@]}")
	;;
linux)
	# PIC: the archives go into a shared object.
	out=$root/build/ffmpeg-linux
	configure=(--arch=x86_64 --enable-pic "${decoders[@]}")
	;;
*)
	echo "usage: $0 windows|linux" >&2
	exit 2
	;;
esac
# The stamp: the source package's version, the configure line and this
# script's contents (how it builds).
stamp="$version ${configure[*]} script $(sha256sum <"$root/scripts/build-ffmpeg.sh" | cut -c1-16)"
if [ "$(cat "$out/stamp" 2>/dev/null)" = "$stamp" ] && [ -f "$out/lib/libavcodec.a" ]; then
	echo "$out"
	exit 0
fi

source_root=$root/build/ffmpeg-source
if [ "$(cat "$source_root/version" 2>/dev/null)" != "$version" ]; then
	rm -rf "$source_root"
	mkdir -p "$source_root"
	(cd "$source_root" && "$root/scripts/sid-apt.sh" source -qq --only-source "ffmpeg=$version" >&2)
	echo "$version" >"$source_root/version"
fi
source_dir=$(find "$source_root" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -n 1)

rm -rf "$out"
mkdir -p "$out/build"
cd "$out/build"
"$source_dir/configure" --prefix="$out" "${configure[@]}" >"$out/configure.log" 2>&1
# Nothing but LGPL code: configure says so in its summary.
grep -qx 'License: LGPL version 2.1 or later' "$out/configure.log" || {
	echo "FFmpeg's configuration is not LGPL-2.1-or-later (see $out/configure.log)" >&2
	exit 1
}
make -j "$(nproc)" >"$out/make.log" 2>&1
make install >>"$out/make.log" 2>&1
cd "$out"
rm -rf "$out/build"
echo "$version" >"$out/built-from"
echo "./configure ${configure[*]}" >"$out/configure-line"
cp "$source_dir/COPYING.LGPLv2.1" "$out/"
echo "$stamp" >"$out/stamp"
echo "$out"
