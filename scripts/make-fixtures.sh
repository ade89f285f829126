#!/usr/bin/env bash
# Makes the small H.264, H.265 and AAC test media in tests/fixtures/ with
# FFmpeg's command-line tools (libx264, libx265 and the native aac encoder). The results are
# committed, so tests never need an encoder; run this only to change them.
#
# Video: 80x48 pictures of 5x3 flat blocks of 16x16 luma samples. Block
# (bx, by) of picture n (counted from 0) holds
#     Y = 40 + 10 * (bx + 5 * by) + 3 * n
#     U = 60 + 25 * bx + 8 * by
#     V = 200 - 20 * bx - 12 * by
# so every block, plane and picture differs and a wrong plane, line size or
# picture order shows. Chroma samples take the block of the luma samples they
# cover. QP 10 with flat blocks decodes to these exact values. Raw Annex B
# (.h264) with SPS/PPS in-band before the IDR picture, no B-frames, no SEI:
#     yuv420.h264          5 pictures, 3 slices each, colour and range unset
#     params-only.h264     the SPS and PPS of yuv420.h264, nothing else
#     yuv420.flv           yuv420.h264 muxed into FLV by FFmpeg (as an RTMP
#                          publisher sends its tags), bit-exact
#     yuvj420-bt470bg.h264 full range, BT.470BG matrix (decodes as yuvj420p)
#     bt470bg.h264         limited range, BT.470BG matrix
#     bt709.h264           limited range, BT.709 matrix
#     smpte170m.h264       limited range, SMPTE 170M matrix
#     yuv422.h264          4:2:2, range unset
#     yuv444.h264          4:4:4, range unset
#     yuvj422.h264         4:2:2 full range (decodes as yuvj422p)
#     yuvj444.h264         4:4:4 full range (decodes as yuvj444p)
#     yuv420p10.h264       10-bit 4:2:0 (decodes as yuv420p10le)
# H.265 (.h265) the same way through libx265, 4:2:0 8-bit, VPS, SPS and PPS
# in band before every key frame (all IDR):
#     yuv420.h265          5 pictures
#     size-change.h265     3 pictures, then 3 of 48x80 from a key frame of their own
#     cut-before-key.h265  8 pictures with a key frame every 4, the first 2
#                          cut off: it starts without parameter sets, on
#                          pictures whose references are not there
# <name>.framemd5 beside yuv420.h264 and each .h265 is the ffmpeg program's
# decode of it: one line per picture, its size and the MD5 of its planes
# packed (each picture at its own size; the probe kept to the first bytes so
# that ffmpeg takes no parameter sets from later in the stream).
#
# Audio: AAC-LC, 0.25 s of sine tones at amplitude 1/8, one frequency per
# channel: mono 1000 Hz at 44.1 kHz; stereo FL 1000, FR 2000 Hz at 48 kHz;
# 5.1 FL 1000, FR 2000, FC 1500, LFE 100, BL 3000, BR 2500 Hz at 48 kHz. Each stream is muxed into
# MP4 (which keeps raw access units and the encoder's AudioSpecificConfig),
# then ffprobe dumps the packets and the extradata, and they are written as
#     aac-<name>.raw    the raw access units (no ADTS), one after another
#     aac-<name>.sizes  the size of each access unit, one decimal per line
#     aac-<name>.asc    the AudioSpecificConfig bytes, exactly as the encoder
#                       wrote them (5 bytes: AAC-LC plus an SBR sync
#                       extension; the first 2 bytes alone are the plain ASC)
set -euo pipefail
cd "$(dirname "$0")/.."

out=tests/fixtures
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in ffmpeg ffprobe python3; do
	command -v "$tool" >/dev/null || {
		echo "make-fixtures: $tool is needed" >&2
		exit 1
	}
done

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

pattern="geq=lum='40+10*(floor(X/16)+5*floor(Y/16))+3*N'"
pattern+=":cb='60+25*floor(X/(16*SW))+8*floor(Y/(16*SH))'"
pattern+=":cr='200-20*floor(X/(16*SW))-12*floor(Y/(16*SH))'"

# encode_video NAME PIXEL_FORMAT PICTURES [extra ffmpeg output options...]
encode_video() {
	local name=$1 pix_fmt=$2 pictures=$3
	shift 3
	ff -f lavfi -i "color=c=black:s=80x48:r=30,format=$pix_fmt,$pattern" -frames:v "$pictures" \
		-c:v libx264 -preset veryfast -tune zerolatency -threads 1 -qp 10 -bf 0 -g 30 \
		-bsf:v filter_units=remove_types=6 "$@" -f h264 "$out/$name"
}

encode_video yuv420.h264 yuv420p 5 -x264-params slices=3
ff -i "$out/yuv420.h264" -c:v copy -bsf:v filter_units=pass_types=7-8 -f h264 "$out/params-only.h264"
ff -i "$out/yuv420.h264" -c:v copy -map_metadata -1 -fflags +bitexact -f flv "$out/yuv420.flv"
encode_video yuvj420-bt470bg.h264 yuv420p 2 -color_range pc -colorspace bt470bg
encode_video bt470bg.h264 yuv420p 2 -colorspace bt470bg
encode_video bt709.h264 yuv420p 2 -colorspace bt709
encode_video smpte170m.h264 yuv420p 2 -colorspace smpte170m
encode_video yuv422.h264 yuv422p 2
encode_video yuv444.h264 yuv444p 2
encode_video yuvj422.h264 yuv422p 2 -color_range pc
encode_video yuvj444.h264 yuv444p 2 -color_range pc
encode_video yuv420p10.h264 yuv420p 3 -pix_fmt yuv420p10le

# encode_hevc NAME SIZE PICTURES KEY_FRAME_INTERVAL
encode_hevc() {
	local name=$1 size=$2 pictures=$3 gop=$4
	ff -f lavfi -i "color=c=black:s=$size:r=30,format=yuv420p,$pattern" -frames:v "$pictures" \
		-c:v libx265 -preset ultrafast -tune zerolatency \
		-x265-params "log-level=error:qp=10:bframes=0:repeat-headers=1:keyint=$gop:min-keyint=$gop:scenecut=0:open-gop=0:frame-threads=1:pools=none" \
		-f hevc "$name"
}

encode_hevc "$out/yuv420.h265" 80x48 5 30
encode_hevc "$work/first.h265" 80x48 3 30
encode_hevc "$work/turned.h265" 48x80 3 30
cat "$work/first.h265" "$work/turned.h265" >"$out/size-change.h265"
encode_hevc "$work/whole.h265" 80x48 8 4
ff -i "$work/whole.h265" -c:v copy -bsf:v "noise=drop='lt(n\,2)'" -f hevc "$out/cut-before-key.h265"

for stream in yuv420.h264 yuv420.h265 size-change.h265 cut-before-key.h265; do
	ffmpeg -hide_banner -loglevel quiet -nostdin -probesize 32 -i "$out/$stream" \
		-autoscale 0 -fps_mode passthrough -f framemd5 - | grep -v '^#' >"$out/$stream.framemd5"
done

# Writes the packets and the extradata of an MP4 file's audio stream.
extract_aac() {
	local mp4=$1 name=$2
	ffprobe -loglevel error -of json -select_streams a -show_streams -show_packets -show_data "$mp4" >"$work/$name.json"
	python3 - "$work/$name.json" "$out/aac-$name" <<'EOF'
import json, sys

def hexdump_bytes(dump):
    # ffprobe's dump: "00000000: 1188 56e5 00      ..V.." per 16 bytes.
    data = bytearray()
    for line in dump.strip().splitlines():
        data += bytes.fromhex(line[10:49].replace(" ", ""))
    return bytes(data)

probe = json.load(open(sys.argv[1]))
prefix = sys.argv[2]
asc = hexdump_bytes(probe["streams"][0]["extradata"])
assert int(probe["streams"][0]["extradata_size"]) == len(asc)
units = [hexdump_bytes(p["data"]) for p in probe["packets"]]
for unit, packet in zip(units, probe["packets"]):
    assert len(unit) == int(packet["size"])
open(prefix + ".asc", "wb").write(asc)
open(prefix + ".raw", "wb").write(b"".join(units))
open(prefix + ".sizes", "w").write("".join(f"{len(u)}\n" for u in units))
EOF
}

# encode_audio NAME LAYOUT SAMPLE_RATE BITRATE FREQUENCY...
encode_audio() {
	local name=$1 layout=$2 rate=$3 bitrate=$4
	shift 4
	local inputs=() map="" i=0
	local channels=(FL FR FC LFE BL BR)
	[ "$layout" = mono ] && channels=(FC)
	for frequency in "$@"; do
		inputs+=(-f lavfi -i "sine=frequency=$frequency:sample_rate=$rate:duration=0.25")
		map+="${map:+|}$i.0-${channels[$i]}"
		i=$((i + 1))
	done
	# join places inputs by channel name unless told: map them in order.
	ff "${inputs[@]}" -filter_complex "join=inputs=$#:channel_layout=$layout:map=$map" \
		-c:a aac -b:a "$bitrate" -flags:a +bitexact -fflags +bitexact "$work/$name.m4a"
	extract_aac "$work/$name.m4a" "$name"
}

encode_audio mono mono 44100 64k 1000
encode_audio stereo stereo 48000 128k 1000 2000
encode_audio 51 5.1 48000 256k 1000 2000 1500 100 3000 2500

ls -l "$out"
