#pragma once
/* Pictures held back by "smooth and in sync" until their time: the stream's
 * packets, in order, each with the OBS time it is to be shown at. Every one
 * still goes through the decoder in order, so none is ever skipped here. A
 * slot's buffer is kept and reused, so a steady stream allocates nothing per
 * picture; the buffers of all slots together never take more than the budget,
 * whatever sizes the phone sends: a picture that would go over it waits until
 * the oldest held ones have gone to OBS. Used by the connection thread alone. */

#include <cstddef>
#include <cstdint>

#define HELD_PICTURES_MAX 64 /* over 1 s at 60 fps; twice the delay's bound */
/* Bytes the slots' buffers may take together: the delay's bound (500 ms) at
 * over 500 Mbit/s, and four packets of the largest size the stream allows. */
#define HELD_PICTURES_BUDGET (32u << 20)
/* A slot's buffer up to this size is kept once the pictures stop (mode off,
 * connection ended); larger ones are freed. */
#define HELD_PICTURES_KEEP (256u << 10)

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
	size_t reserved; /* bytes the slots' buffers take */
};

HeldPictures *held_pictures_create(void);
void held_pictures_destroy(HeldPictures *held);

/* Whether a picture of `size` bytes fits now: a free slot, and the buffers
 * within the budget once it is copied in (empty slots' buffers are freed for
 * it as needed). When not, the oldest held picture must go first. */
bool held_pictures_room(HeldPictures *held, uint32_t size);
/* Copies the packet in; false (nothing held) without room. */
bool held_pictures_push(HeldPictures *held, const uint8_t *data, uint32_t size, uint64_t present_at,
			uint64_t sender_ts);
/* The oldest, or null when none is held. */
HeldPicture *held_pictures_front(HeldPictures *held);
void held_pictures_pop(HeldPictures *held);
void held_pictures_clear(HeldPictures *held);
/* Frees the buffers of empty slots larger than HELD_PICTURES_KEEP. */
void held_pictures_trim(HeldPictures *held);
