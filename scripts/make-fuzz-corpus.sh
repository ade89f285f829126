#!/usr/bin/env bash
# Writes the seed inputs of the fuzz targets (tests/fuzz/corpus/<target>/)
# from the committed media of tests/fixtures. The results are committed; run
# this only to change them. Inputs that once crashed a target are kept beside
# the seeds as regression-* files and are not touched here.
#
# Layouts (see each target's comment):
#   fuzz-stream-records  handshake, then packet headers with payloads
#   fuzz-clock-sync      u64 start, then events: u8 kind, u32 ns elapsed, u64 us
#   fuzz-audio-decoder   records (u16 length + bytes): audio configuration, AACs
#   fuzz-video-decoder   records: one H.264 or H.265 access unit each
#   fuzz-adb-reply       u8 request (0 devices, 1 forward, 2 remove), reply bytes
set -euo pipefail
cd "$(dirname "$0")/.."

exec python3 - <<'PY'
import os, struct

fix = "tests/fixtures"
root = "tests/fuzz/corpus"

def write(target, name, data):
    d = os.path.join(root, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(data)

def read(name):
    with open(os.path.join(fix, name), "rb") as f:
        return f.read()

def nal_units(stream):
    """Annex B NAL units, each with its start code."""
    starts = []
    i = 0
    while True:
        j = stream.find(b"\x00\x00\x01", i)
        if j < 0:
            break
        starts.append(j - 1 if j > 0 and stream[j - 1] == 0 else j)
        i = j + 3
    return [stream[a:b] for a, b in zip(starts, starts[1:] + [len(stream)])]

def access_units(stream):
    """Groups NAL units into access units: a new one starts at a parameter
    set after a slice, or at a slice whose first_mb_in_slice is 0."""
    units, current, had_slice = [], b"", False
    for nal in nal_units(stream):
        body = nal[nal.index(b"\x01") + 1:]
        kind = body[0] & 0x1F
        first_mb_zero = kind in (1, 5) and len(body) > 1 and body[1] & 0x80
        if current and had_slice and (kind in (7, 8) or first_mb_zero):
            units.append(current)
            current, had_slice = b"", False
        current += nal
        had_slice = had_slice or kind in (1, 5)
    if current:
        units.append(current)
    return units

def hevc_access_units(stream):
    """The same for H.265: a new one starts at a VPS, SPS, PPS, AUD or prefix
    SEI after a slice, or at a slice whose first_slice_segment_in_pic_flag
    is set."""
    units, current, had_slice = [], b"", False
    for nal in nal_units(stream):
        body = nal[nal.index(b"\x01") + 1:]
        kind = (body[0] >> 1) & 0x3F
        first_segment = kind < 32 and len(body) > 2 and body[2] & 0x80
        if current and had_slice and (kind in (32, 33, 34, 35, 39) or first_segment):
            units.append(current)
            current, had_slice = b"", False
        current += nal
        had_slice = had_slice or kind < 32
    if current:
        units.append(current)
    return units

def records(payloads):
    return b"".join(struct.pack("<H", len(p)) + p for p in payloads)

def header(flags, payload, ts):
    return struct.pack("<BIQ", flags, len(payload), ts) + payload

def aac(name):
    raw = read("aac-%s.raw" % name)
    sizes = [int(x) for x in read("aac-%s.sizes" % name).split()]
    units, at = [], 0
    for s in sizes:
        units.append(raw[at:at + s])
        at += s
    return units

def audio_config(rate, channels, asc):
    return struct.pack("<IBB", rate, channels, len(asc)) + asc

audio = {"mono": (44100, 1), "stereo": (48000, 2), "51": (48000, 6)}
videos = [f for f in sorted(os.listdir(fix)) if f.endswith(".h264")]

# Video: each fixture as access units.
for f in videos:
    write("fuzz-video-decoder", f[:-5], records(access_units(read(f))))
for f in sorted(os.listdir(fix)):
    if f.endswith(".h265"):
        write("fuzz-video-decoder", f[:-5] + "-h265", records(hevc_access_units(read(f))))

# Audio: each fixture's configuration and its first eight access units.
for name, (rate, channels) in audio.items():
    config = audio_config(rate, channels, read("aac-%s.asc" % name))
    write("fuzz-audio-decoder", "aac-" + name, records([config] + aac(name)[:8]))

# Audio configurations at the edge: no sample rate on the wire or in the
# AudioSpecificConfig (AAC-LC, frequency index 15 with an explicit 0 Hz).
stereo_units = aac("stereo")[:4]
zero_asc = bytes.fromhex("1780000010")
write("fuzz-audio-decoder", "edge-rate-0-no-asc", records([audio_config(0, 2, b"")] + stereo_units))
write("fuzz-audio-decoder", "edge-asc-rate-0", records([audio_config(48000, 2, zero_asc)] + stereo_units))
write("fuzz-audio-decoder", "edge-wire-rate-0-asc-rate-0", records([audio_config(0, 2, zero_asc)] + stereo_units))

# Stream: a whole short connection as a phone sends it.
caps = struct.pack("<BiiiiiB", 0x0F, 1000, 8000, -12, 12, 166667, 5) + struct.pack("<5i", 1, 2, 3, 5, 6)
stereo = audio_config(48000, 2, read("aac-stereo.asc"))
stream = b"NRIX" + struct.pack("<BBHHBB", 3, 1, 1280, 720, 30, 0)
stream += header(0x04, caps, 1000) + header(0x09, stereo, 1000)
for n, au in enumerate(access_units(read("yuv420.h264"))[:2]):
    stream += header(0x00, au, 1000 + n * 33333)
stream += header(0x08, aac("stereo")[0], 1000) + header(0x00, b"", 2000)
write("fuzz-stream-records", "connection", stream)
# The same with H.265 (codec 2).
hevc = b"NRIX" + struct.pack("<BBHHBB", 3, 2, 80, 48, 30, 0)
hevc += header(0x04, caps, 1000) + header(0x09, stereo, 1000)
for n, au in enumerate(hevc_access_units(read("yuv420.h265"))[:2]):
    hevc += header(0x00, au, 1000 + n * 33333)
write("fuzz-stream-records", "connection-h265", hevc)
write("fuzz-stream-records", "short-caps", stream[:12] + header(0x04, caps[:21], 0))

# Clocks: a steady 30 fps phone with audio, then its clock jumping 600 ms back.
def event(kind, elapsed, us):
    return struct.pack("<BIQ", kind, elapsed, us)
steady = struct.pack("<Q", 5_000_000_000)
jump = steady
for n in range(90):
    steady += event(1, 33_333_333, 10_000_000 + n * 33_333) + event(0, 0, 10_000_000 + n * 33_333)
    us = 10_000_000 + n * 33_333 - (600_000 if n >= 45 else 0)
    jump += event(1, 33_333_333, us) + event(0, 0, us)
write("fuzz-clock-sync", "steady", steady)
write("fuzz-clock-sync", "jump-back", jump)

# adb: the replies its server gives (device list, forward, failure).
devices = b"R58M123ABC\tdevice\nemulator-5554\tunauthorized\n"
write("fuzz-adb-reply", "devices", b"\x00OKAY" + b"%04x" % len(devices) + devices)
write("fuzz-adb-reply", "no-devices", b"\x00OKAY0000")
write("fuzz-adb-reply", "forward", b"\x01OKAYOKAY000427183")
write("fuzz-adb-reply", "forward-fail", b"\x01FAIL0000")
write("fuzz-adb-reply", "unknown-service", b"\x02FAIL0014unknown host service")
PY
