#!/usr/bin/env bash
# The portable module beside another FFmpeg: in a process that already has
# this machine's libobs 29.0.2 and FFmpeg 5.1 loaded, the dynamic linker's
# record (LD_DEBUG=bindings) must show no reference of ostrelin.so bound to
# the system's libavcodec or libavutil, some bound to libobs (so the record
# does cover the module), and the system's FFmpeg in use there.
#   - decode-with-module: the module's decoder on an H.264 fixture; each
#     picture equal to the ffmpeg program's decode;
#   - OBS Studio 29 itself, with the tarball's plug-in folder installed by its
#     install.sh: the real-OBS test, against the sender as it is (H.264) and
#     again as a phone sending H.265 (handshake codec 2), which only the
#     module's own HEVC decoder shows.
# The same record of the regular build, which links the system's FFmpeg,
# must fail the first check: it can see such a binding.
#   check-bindings.sh TARBALL DECODE_PROGRAM SENDER LOG_TEXTS.py REGULAR.so
# Ends with "bindings: N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
tarball=$(realpath "$1") program=$2 sender=$3 log_texts=$4 regular=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
CHECKS_SAY_OK=yes
. "$here/../../scripts/lib/common.sh"

# The record's lines for references of ostrelin.so, in the files PREFIX.*.
# (No grep -q after a pipe: an early exit would fail the pipe.)
module_bindings() { grep -hsE 'binding file [^ ]*/ostrelin\.so \[' "$1".* || true; }
none_to_ffmpeg() {
	local bound
	bound=$(module_bindings "$1" | grep -E ' to [^ ]*/libav(codec|util)\.so' || true)
	[ -z "$bound" ] || { echo "$bound" | head -n 5; return 1; }
}
some_to_libobs() { [ "$(module_bindings "$1" | grep -cE ' to [^ ]*/libobs\.so\.[0-9]+ \[')" -gt 0 ]; }
ffmpeg_in_use() { grep -qhsE ' to [^ ]*/libavcodec\.so\.59 \[' "$1".*; }
recorded() {
	local what=$1 prefix=$2
	echo "    $what: $(module_bindings "$prefix" | wc -l) bindings of ostrelin.so recorded"
	check "$what: no reference of ostrelin.so bound to the system's libavcodec or libavutil" none_to_ffmpeg "$prefix"
	check "$what: ostrelin.so's libobs references bound to the running libobs" some_to_libobs "$prefix"
	check "$what: the system's libavcodec 59 (FFmpeg 5.1) in use in the process" ffmpeg_in_use "$prefix"
}

tar -C "$work" -xf "$tarball"
module=$(find "$work" -path '*/ostrelin/bin/64bit/ostrelin.so' | head -n 1)
fixture=yuv420.h264
ffmpeg -v error -i "$repo/tests/fixtures/$fixture" -f rawvideo -pix_fmt yuv420p "$work/reference.yuv"
check "the module's decoder gives ffmpeg's pictures beside libobs 29 and FFmpeg 5.1" \
	env LD_DEBUG=bindings LD_DEBUG_OUTPUT="$work/decode" "$program" "$module" "$fixture" "$work/reference.yuv"
recorded decode-with-module "$work/decode"
env LD_DEBUG=bindings LD_DEBUG_OUTPUT="$work/regular" "$program" "$regular" "$fixture" "$work/reference.yuv" >/dev/null
check "the regular build, which links the system's FFmpeg, fails that check" bash -c \
	"$(declare -f module_bindings none_to_ffmpeg); ! none_to_ffmpeg '$work/regular' >/dev/null"

check "OBS Studio 29 runs the tarball's plug-in folder through the real-OBS test" \
	env OSTRELIN_OBS_LD_DEBUG="$work/obs" bash "$here/../real-obs/run.sh" --tarball "$tarball" "$sender" "$log_texts"
recorded "OBS Studio 29" "$work/obs"
printf '#!/bin/sh\nexec %q --codec h265 "$@"\n' "$(realpath "$sender")" >"$work/sender-h265"
chmod +x "$work/sender-h265"
check "OBS Studio 29 runs the tarball's plug-in folder through the real-OBS test, the phone sending H.265" \
	env OSTRELIN_OBS_LD_DEBUG="$work/obs-h265" bash "$here/../real-obs/run.sh" --tarball "$tarball" \
	"$work/sender-h265" "$log_texts"
recorded "OBS Studio 29 with H.265" "$work/obs-h265"
checks_summary bindings
