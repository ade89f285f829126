#!/usr/bin/env bash
# Writes the licences and the notice that every package with FFmpeg inside
# carries: LICENSE.txt (Ostrelin's, GPL-2.0-or-later), COPYING.LGPLv2.1.txt
# (FFmpeg's) and NOTICE.txt (what was built from which source, with FFmpeg's
# version and configure line, and the decoders and parsers that line put in).
#   write-notice.sh OUT_DIR "WHAT" FILE FFMPEG_DIR OBS_INCLUDE_DIR BUILD_SCRIPT
#     WHAT        what the build is for, e.g. "OBS Studio on Windows (64-bit)"
#     FILE        the module's file name, e.g. ostrelin.dll
#     FFMPEG_DIR  the prefix scripts/build-ffmpeg.sh printed
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/lib/common.sh"
out=$1 what=$2 file=$3 ffmpeg=$4 obs_include=$5 build_script=$6

version=$(ostrelin_version)
commit=$(git -C "$repo" rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
obs_api=$(sed -nE 's/^#define LIBOBS_API_(MAJOR|MINOR|PATCH)_VER +([0-9]+).*/\2/p' "$obs_include/obs-config.h" | paste -sd.)
ffmpeg_version=$(sed -nE 's/^#define FFMPEG_VERSION "([^"]+)".*/\1/p' "$ffmpeg/include/libavutil/ffversion.h")
# FFmpeg's names of the components its configure line enabled, e.g.
# "h264, hevc, aac" for --enable-decoder=h264,hevc,aac.
enabled() {
	local names
	names=$(grep -oE -- "--enable-$1=[^ ]+" "$ffmpeg/configure-line" | cut -d= -f2 | paste -sd, | sed 's/,/, /g')
	[ -n "$names" ] || {
		echo "write-notice: no --enable-$1 in $ffmpeg/configure-line" >&2
		exit 1
	}
	echo "$names"
}
decoders=$(enabled decoder)
parsers=$(enabled parser)

rm -rf "$out"
mkdir -p "$out"
cp "$repo/LICENSE" "$out/LICENSE.txt"
cp "$ffmpeg/COPYING.LGPLv2.1" "$out/COPYING.LGPLv2.1.txt"
cat >"$out/NOTICE.txt" <<NOTICE
Ostrelin $version for $what

Ostrelin is free software under the GNU General Public License, version 2 or
(at your option) any later version: see LICENSE.txt. This build was made
from the Ostrelin source repository at version $version (commit $commit),
against libobs $obs_api's headers. That source is published with this
build, in ostrelin-$version-source.tar.xz beside it in the same release
(GPL section 3); with $build_script it rebuilds $file, with a
changed FFmpeg too.

$file contains FFmpeg $ffmpeg_version (its libavcodec and libavutil
libraries, linked statically), under the GNU Lesser General Public License,
version 2.1 or later: see COPYING.LGPLv2.1.txt. It was built from Debian's
ffmpeg source package, version $(cat "$ffmpeg/built-from"), with:

  $(cat "$ffmpeg/configure-line")

FFmpeg's decoders inside: $decoders
FFmpeg's parsers inside: $parsers

FFmpeg's source, exactly as built: Debian's ffmpeg source package
$(cat "$ffmpeg/built-from") is in the same ostrelin-$version-source.tar.xz, in
third-party/ffmpeg/ (ffmpeg_${ffmpeg_version}.orig.tar.xz and its Debian
changes). It is also at
https://snapshot.debian.org/package/ffmpeg/$(sed 's/:/%3A/' "$ffmpeg/built-from")/
NOTICE
