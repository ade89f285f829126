#pragma once
/* "Smooth and in sync" on the connection thread: pictures held until their
 * time on the timeline the sound shares, decoded ahead of it and handed to
 * OBS so that the video tick nearest that time shows them; the switch between
 * the mode and the plain timing; OBS's video tick. */

#include "timing/smooth-delay.h"

#include <obs-module.h>

#include <atomic>
#include <cstdint>

struct HeldPictures;
struct Receiver;

struct SmoothPacing {
	bool on = false; /* the mode's timing is in force */
	SmoothDelay delay = {};
	HeldPictures *held = nullptr;
	HandoverState handover = {};
	bool told_obs_late = false;   /* the log said once this connection that OBS's ticks came late */
	uint64_t widened_through = 0; /* the newest held picture's time when the delay last grew for OBS */
	/* The oldest held picture, once decoded: its planes are the decoder's
	 * until the next decode, which comes only after it is handed over. */
	bool front_decoded = false;
	uint64_t front_decode_ns = 0;
	obs_source_frame front = {};
};

/* Makes the timing the setting asks for the one in force, taking over where
 * the other one is, so the sound goes on without a jump. */
void smooth_pacing_follow_setting(Receiver *rx);
/* A new connection with the mode on: the delay starts afresh from the
 * allowance. */
void smooth_pacing_connection_start(Receiver *rx);
/* A picture of the stream (its payload, sender time ts) received at now:
 * held until its time. */
void smooth_pacing_hold(Receiver *rx, const uint8_t *payload, uint32_t size, uint64_t ts, uint64_t now);
/* Hands on the held pictures whose time has come, then waits for the phone's
 * next bytes until the next one's. False when a stop came. */
bool smooth_pacing_run(Receiver *rx);
/* The connection ended: the pictures still held belong to it and are dropped
 * (none may follow the next phone's), with the mark of one decoded and the
 * record of the hand-overs; their large buffers go too. */
void smooth_pacing_connection_end(SmoothPacing *pacing);
void smooth_pacing_free(SmoothPacing *pacing);
/* The delay for the panel, and for the log when the delay's rules say so. */
void smooth_pacing_show_delay(Receiver *rx, bool report);

/* For tests: called on the connection thread each time the oldest held
 * picture has been decoded ahead of its hand-over. */
extern std::atomic<void (*)(Receiver *rx)> smooth_pacing_decoded_hook;
