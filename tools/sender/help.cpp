#include "options.h"

#include <cstdio>

static const char help_text[] = R"(
Serves a live test stream exactly as an Ostrelin phone app must: it listens on
a TCP port, and on each connection it sends a handshake, camera capabilities,
an audio configuration, then live H.264 (or H.265) video and AAC audio paced
in real time, while it prints every camera-control message the receiver sends
back. Connections are served one after another. Linux only.

THE PROTOCOL IN BRIEF (all integers little-endian, records packed)
  The phone listens; the receiver connects. The phone sends first:
  Handshake, 12 bytes, once:
    0 magic "NRIX" | 4 version u8 = 3 | 5 codec u8 = 1 (H.264) or 2 (H.265)
    | 6 width u16 | 8 height u16 | 10 fps u8 | 11 reserved u8 (any value)
  Then packets, each a 13-byte header and `length` payload bytes:
    0 flags u8 | 1 length u32 (at most 0x800000) | 5 timestamp u64
    timestamp: microseconds of the sender's own monotonic clock.
  Packet kind by flags, first test that holds:
    0x04 set              capabilities
    0x08 and 0x01 set     audio configuration   (this sender: 0x09)
    0x08 set, 0x01 clear  audio data, one raw AAC access unit, no ADTS
    0x04 and 0x08 clear   video, H.264 or H.265 Annex B; one access unit
                          per packet, parameter sets (H.265: VPS, SPS, PPS)
                          in band before every keyframe
                          (this sender: 0x00)
    A packet of length 0 is skipped, whatever its flags.
  Capabilities payload (22 + 4 * awb_count bytes):
    0 flags u8 (0x01 zoom, 0x02 exposure, 0x04 torch, 0x08 AE lock)
    | 1 zoom_min i32 | 5 zoom_max i32 (zoom x 1000) | 9 ev_min i32
    | 13 ev_max i32 (steps) | 17 ev_step i32 (millionths of an EV)
    | 21 awb_count u8 | 22 awb_modes i32 each (camera2 CONTROL_AWB_MODE)
  Audio configuration payload (6 + asc_len bytes):
    0 sample_rate u32 | 4 channels u8 | 5 asc_len u8 (0..64)
    | 6 AudioSpecificConfig (asc_len bytes)
  A receiver drops audio until it has an audio configuration and a first
  video packet, so send both before the first audio data. It gives up after
  about 5 s without a byte (ten 500 ms receive waits in a row).
  Control messages, 5 bytes, receiver -> phone, at any time on the same
  connection: 0 command u8 | 1 value i32
    1 zoom (x 1000)  2 exposure (steps)  3 torch (0/1)
    4 white balance (mode)  5 AE lock (0/1)

WHAT THIS SENDER SENDS
  handshake; capabilities (flags 0x04); audio configuration (flags 0x09:
  48000 Hz, 2 channels, the AAC-LC encoder's own AudioSpecificConfig); then
  video (flags 0x00, libx264 or libx265 ultrafast/zerolatency, no
  B-frames, a keyframe every --gop frames) and audio (flags 0x08, a sine tone, 1024 samples per
  access unit). Each picture's timestamp is the time it is taken; each audio
  unit's is the time of its first sample. Every connection starts its own
  encoders, so it starts on a keyframe with frame number 0.

THE TEST PICTURE (YUV 4:2:0, BT.709 limited range, W x H, frame number n)
  Top-left quarter, x < W/2, y < H/2: solid red     Y 63  U 102 V 240
  Top-right quarter, x >= W/2, y < H/2: solid blue  Y 32  U 240 V 118,
    holding at its top the frame counter: 16 square blocks of side
    s = (W/2)/16 rounded down to even (at least 2), block i (0..15) at
    x = W/2 + i*s, y = 0..s-1, shows bit 15-i of n mod 65536:
    white (Y 235 U 128 V 128) = 1, black (Y 16 U 128 V 128) = 0.
    For 640x360, s = 20; for 320x180, s = 10.
  Bottom half, y >= H/2: eight vertical bars, W/8 wide, in the order
    white (235,128,128) yellow (219,16,138) cyan (188,154,16)
    green (173,42,26) magenta (78,214,230) red (63,102,240)
    blue (32,240,118) black (16,128,128), moving 4 pixels left per frame:
    pixel x shows bar ((x + 4n) mod W) * 8 / W.

WHAT THIS SENDER PRINTS (stdout, one line each, flushed)
  listening on ADDR:PORT        first line, once
  connected / disconnected      for each connection
  control zoom 1500 | control ev -3 | control torch 1 | control awb 5
  | control ae_lock 0 | control unknown(9) 7     for each control message

OPTIONS
  -h, --help           this text
  --listen ADDR        IPv4 address to listen on (default 127.0.0.1)
  --port N             TCP port (default )" HELP_NUMBER(STREAM_DEFAULT_PORT) R"(; 0 picks a free port)
  --width W            picture width, even (default 640)
  --height H           picture height, even (default 360)
  --fps N              frames per second, 1..120 (default 30)
  --gop N              frames from one keyframe to the next (default 2 s)
  --crf N              encoder quality, 0..51 (default 20)
  --codec C            h264 (libx264, handshake codec 1, the default) or
                       h265 (libx265, handshake codec 2)
  --tone HZ            audio tone frequency (default 1000)
  --reserved N         the handshake's reserved byte (default 0)
  --video-flags N      flags of video packets; 0x04 and 0x08 must stay clear
                       (default 0x00; 0x01, 0x02 or 0x10.. are still video)
  --caps-flags N       capability bits (default 0x0F)
  --zoom-min N, --zoom-max N    zoom range x 1000 (default 1000, 8000)
  --ev-min N, --ev-max N        exposure index range (default -12, 12)
  --ev-step N          exposure step in millionths of an EV (default 166667)
  --awb LIST           white-balance modes, comma-separated, at most 16;
                       "" for none (default 1,2,3,5,6)
  --connections N      exit after N connections (default 0: no limit)
  --duration S         exit after S seconds (default 0: run until SIGINT
                       or SIGTERM); exit status 0 either way

MISBEHAVIOUR, to try a receiver's error handling
  --bad-magic          handshake magic "nrix" (lower case)
  --bad-version N      handshake version N (e.g. 2)
  --bad-codec N        handshake codec N (e.g. 3)
    (after a bad handshake the stream goes on as usual, for a receiver
    that wrongly accepts it)
  --stall-handshake MS send 6 handshake bytes, pause MS ms, send the other 6
  --handshake-only     send the handshake, then nothing (controls are still
                       printed) until the receiver closes
  --no-caps            send no capabilities packet
  --malformed-caps     instead of the capabilities, send two that must be
                       ignored: 21 bytes (one short of the fixed part), and
                       awb_count 3 with 33 bytes (one short of 34)
  --no-audio           send no audio configuration and no audio data
  --malformed-audio-config
                       instead of the audio configuration, send three that
                       must be ignored: asc_len 65 (71-byte payload), the real
                       one a byte short, and a 5-byte payload; audio data
                       follows as usual
  --zero-length        put a zero-length packet before every packet, flags
                       in turn 0x04 0x00 0x01 0x08 0x09 0x0C 0x02 0xFF
  --exact-max          after the first video packet, one packet of flags
                       --video-flags and length 0x800000 (the largest
                       allowed) filled with 0xA5 bytes, then a keyframe
  --oversize           after the first video packet, a header with length
                       0x800001 (one too many) and that many 0xA5 bytes,
                       then a keyframe
  --stall-header MS    second video packet: send 6 header bytes, pause MS ms
  --stall-payload MS   second video packet: send the header and half the
                       payload, pause MS ms
  --close-mid-packet   second video packet: send the header and half the
                       payload, then close the connection
  --clock-jump MS      from --clock-jump-after S seconds (default 1) into
                       each connection, add MS ms to every timestamp
                       (negative: the clock goes back)

MEASURING A RECEIVER
  --annexb             send plain Annex B video and nothing else: no
                       handshake, no packet headers, no capabilities, no
                       audio (what a generic network video input reads)
  --sync-marks         once a second, at the same sender time, the picture
                       flashes white below its counter row and the sound
                       holds a 50 ms burst of the tone (silent otherwise)
  --send-log FILE      one line per event, times in ns of CLOCK_MONOTONIC:
                       "open N NS", "video N F NS W H TS" (picture F of
                       connection N, W x H, just before it is written, TS
                       its wire timestamp), "audio N NS TS", "close N NS"
  --drop-every S       close each connection after S seconds; the next
                       connection starts afresh (a keyframe, frame 0)
  --rotate-every S     every S seconds of a connection, turn the picture:
                       W x H becomes H x W and back (a new encoder, so new
                       SPS/PPS and an IDR), the frame counter goes on
  --clock-drift LIST   the phone's clock runs fast or slow in phases,
                       PPM:SECONDS,... repeated from the start (e.g.
                       "2000:120,-2000:120": 0.2 % fast for 2 minutes, then
                       0.2 % slow); pictures and audio are paced and stamped
                       with it, as a phone does with its own clock
  --jitter MS          hold every packet back by a uniform 0..MS ms, in
                       order (a packet never overtakes the one before)
  --spike-share PCT    and PCT percent of the packets (e.g. 3) by a further
                       spike drawn from --spike-ms
  --spike-ms MIN-MAX   the spike's range in ms (e.g. 50-100)
  --seed N             the draws' seed (default 1): a seed replays the same
                       network (packets sent directly by the misbehaviour
                       options are not held back)

EXAMPLES
  ostrelin-sender --port 0 --duration 10
  ostrelin-sender --width 1280 --height 720 --fps 60 --no-audio
  ostrelin-sender --oversize --connections 1
  ostrelin-sender --jitter 20 --spike-share 3 --spike-ms 100-200
  ostrelin-sender --annexb --width 1280 --height 720 --send-log sent.log
)";

void sender_print_help(const char *program)
{
	printf("Usage: %s [OPTION]...\n", program);
	fputs(help_text + 1, stdout);
	fflush(stdout);
}
