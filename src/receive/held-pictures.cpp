#include "receive/held-pictures.h"

#include <util/bmem.h>

#include <cstring>

HeldPictures *held_pictures_create(void)
{
	return static_cast<HeldPictures *>(bzalloc(sizeof(HeldPictures)));
}

void held_pictures_destroy(HeldPictures *held)
{
	if (!held)
		return;
	for (HeldPicture &p : held->slot)
		bfree(p.data);
	bfree(held);
}

static void free_buffer(HeldPictures *held, HeldPicture &p)
{
	bfree(p.data);
	held->reserved -= p.capacity;
	p.data = nullptr;
	p.capacity = 0;
}

static bool slot_empty(const HeldPictures *held, size_t index)
{
	return (index + HELD_PICTURES_MAX - held->first) % HELD_PICTURES_MAX >= held->count;
}

bool held_pictures_room(HeldPictures *held, uint32_t size)
{
	if (held->count == HELD_PICTURES_MAX)
		return false;
	size_t next = (held->first + held->count) % HELD_PICTURES_MAX;
	uint32_t capacity = held->slot[next].capacity;
	if (capacity >= size)
		return true;
	/* The next slot's buffer is replaced by one of `size` bytes. */
	for (size_t i = 0; held->reserved - capacity + size > HELD_PICTURES_BUDGET && i < HELD_PICTURES_MAX; i++) {
		if (i != next && slot_empty(held, i) && held->slot[i].data)
			free_buffer(held, held->slot[i]);
	}
	return held->reserved - capacity + size <= HELD_PICTURES_BUDGET;
}

bool held_pictures_push(HeldPictures *held, const uint8_t *data, uint32_t size, uint64_t present_at, uint64_t sender_ts)
{
	if (!held_pictures_room(held, size))
		return false;
	HeldPicture &p = held->slot[(held->first + held->count) % HELD_PICTURES_MAX];
	if (p.capacity < size) {
		free_buffer(held, p);
		p.data = static_cast<uint8_t *>(bmalloc(size));
		p.capacity = size;
		held->reserved += size;
	}
	memcpy(p.data, data, size);
	p.size = size;
	p.present_at = present_at;
	p.sender_ts = sender_ts;
	held->count++;
	return true;
}

HeldPicture *held_pictures_front(HeldPictures *held)
{
	return held && held->count ? &held->slot[held->first] : nullptr;
}

void held_pictures_pop(HeldPictures *held)
{
	if (!held->count)
		return;
	held->first = (held->first + 1) % HELD_PICTURES_MAX;
	held->count--;
}

void held_pictures_clear(HeldPictures *held)
{
	if (!held)
		return;
	held->first = 0;
	held->count = 0;
}

void held_pictures_trim(HeldPictures *held)
{
	if (!held)
		return;
	for (size_t i = 0; i < HELD_PICTURES_MAX; i++) {
		if (slot_empty(held, i) && held->slot[i].capacity > HELD_PICTURES_KEEP)
			free_buffer(held, held->slot[i]);
	}
}
