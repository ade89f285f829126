#pragma once
/* The steps both video paths share: decoding a picture, handing it to OBS
 * with its statistics, and counting a video packet's bytes into the
 * five-second window, which is logged when it is due. */

#include <obs-module.h>

#include <cstdint>

struct Receiver;

/* Decodes one payload into a picture for OBS time pts; false when the decoder
 * gave none. *decode_ns: how long the decode took. */
bool picture_decode(Receiver *rx, const uint8_t *payload, uint32_t size, uint64_t pts, obs_source_frame *frame,
		    uint64_t *decode_ns);
/* Hands a decoded picture (sender time ts) to OBS and counts it; returns when
 * it was handed. */
uint64_t picture_hand_over(Receiver *rx, obs_source_frame *frame, uint64_t decode_ns, uint64_t ts);
/* A video packet of `size` bytes received; logs the window when it is due. */
void picture_count_bytes(Receiver *rx, uint32_t size);
