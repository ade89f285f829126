#pragma once
/* Pictures held back by "smooth and in sync" until their time: the stream's
 * packets, in order, each with the OBS time it is to be shown at. Every one
 * still goes through the decoder in order, so none is ever skipped here. A
 * slot's buffer is kept and only grows, so a steady stream allocates nothing
 * per picture. Used by the connection thread alone. */

#include <cstddef>
#include <cstdint>

#define HELD_PICTURES_MAX 64 /* over 1 s at 60 fps; twice the delay's bound */

struct HeldPicture {
	uint64_t present_at; /* OBS time */
	uint64_t sender_ts;  /* ns on the sender's clock */
	uint8_t *data;
	uint32_t size;
	uint32_t capacity;
};

struct HeldPictures {
	HeldPicture slot[HELD_PICTURES_MAX];
	size_t first;
	size_t count;
};

HeldPictures *held_pictures_create(void);
void held_pictures_destroy(HeldPictures *held);

bool held_pictures_full(const HeldPictures *held);
/* Copies the packet in; the caller makes room first when full. */
void held_pictures_push(HeldPictures *held, const uint8_t *data, uint32_t size, uint64_t present_at,
			uint64_t sender_ts);
/* The oldest, or null when none is held. */
HeldPicture *held_pictures_front(HeldPictures *held);
void held_pictures_pop(HeldPictures *held);
void held_pictures_clear(HeldPictures *held);
