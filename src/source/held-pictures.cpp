#include "held-pictures.h"

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

bool held_pictures_full(const HeldPictures *held)
{
	return held->count == HELD_PICTURES_MAX;
}

void held_pictures_push(HeldPictures *held, const uint8_t *data, uint32_t size, uint64_t present_at, uint64_t sender_ts)
{
	if (held_pictures_full(held))
		return;
	HeldPicture &p = held->slot[(held->first + held->count) % HELD_PICTURES_MAX];
	if (p.capacity < size) {
		bfree(p.data);
		p.data = static_cast<uint8_t *>(bmalloc(size));
		p.capacity = size;
	}
	memcpy(p.data, data, size);
	p.size = size;
	p.present_at = present_at;
	p.sender_ts = sender_ts;
	held->count++;
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
