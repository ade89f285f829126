#!/usr/bin/env bash
# Builds FFmpeg's avcodec and avutil DLLs for 64-bit Windows from Debian's own
# FFmpeg source package (the version of this machine's FFmpeg headers), with
# only what the plug-in uses: the H.264 and AAC decoders and the H.264 parser.
# The source comes through a private apt configuration holding deb-src
# entries; the system's sources stay as they are. The result is kept in
# build/ffmpeg-windows and reused while the installed FFmpeg version stays.
#   build-ffmpeg-windows.sh   prints the folder holding the DLLs
set -euo pipefail
cd "$(dirname "$0")/.."

out=$PWD/build/ffmpeg-windows
version=$(dpkg-query -W -f='${Version}' libavcodec-dev)
stamp="$out/built-from"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && ls "$out"/bin/avcodec-*.dll >/dev/null 2>&1; then
	echo "$out/bin"
	exit 0
fi

rm -rf "$out"
mkdir -p "$out/apt/lists/partial" "$out/src"
# deb-src twins of the system's Debian entries (deb822 files and one-line lists).
{
	for f in /etc/apt/sources.list.d/*.sources; do
		[ -f "$f" ] && sed -E 's/^Types:.*/Types: deb-src/' "$f" && echo
	done
} >"$out/apt/sources.sources" 2>/dev/null || true
grep -hE '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' >"$out/apt/sources.list" || true
apt_options=(-o Dir::Etc::SourceList="$out/apt/sources.list" -o Dir::Etc::SourceParts="$out/apt/parts"
	-o Dir::State::Lists="$out/apt/lists" -o Dir::Cache="$out/apt/cache" -o Debug::NoLocking=1)
mkdir -p "$out/apt/parts" "$out/apt/cache/archives/partial"
mv "$out/apt/sources.sources" "$out/apt/parts/debian.sources"
apt-get "${apt_options[@]}" update -qq </dev/null >&2
(cd "$out/src" && apt-get "${apt_options[@]}" source -qq --only-source "ffmpeg=${version#*:}" </dev/null >&2) ||
	(cd "$out/src" && apt-get "${apt_options[@]}" source -qq ffmpeg </dev/null >&2)

source_dir=$(find "$out/src" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -n 1)
cd "$source_dir"
./configure --prefix="$out" --enable-cross-compile --cross-prefix=x86_64-w64-mingw32- --target-os=mingw32 \
	--arch=x86_64 --disable-everything --enable-decoder=h264,aac --enable-parser=h264 --enable-shared \
	--disable-static --disable-programs --disable-doc --disable-avdevice --disable-avformat --disable-swscale \
	--disable-swresample --disable-postproc --disable-avfilter --disable-network --disable-autodetect \
	--extra-ldflags=-static-libgcc >"$out/configure.log" 2>&1
make -j "$(nproc)" >"$out/make.log" 2>&1
make install >>"$out/make.log" 2>&1
echo "$version" >"$stamp"
echo "$out/bin"
