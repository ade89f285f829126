/* The held pictures' byte budget: the slots' buffers together never take more
 * than HELD_PICTURES_BUDGET, whatever sizes come, and a picture that does not
 * fit waits for the oldest held ones to go; large buffers go once the
 * pictures stop. */

#include "receive/held-pictures.h"
#include "protocol/stream-protocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct HeldDeleter {
	void operator()(HeldPictures *held) const { held_pictures_destroy(held); }
};
using HeldPtr = std::unique_ptr<HeldPictures, HeldDeleter>;

constexpr uint32_t MiB = 1u << 20;

} // namespace

/* Pictures of one size pushed until the next does not fit: how many are held
 * then, just inside the budget and just outside it. */
TEST(HeldPictures, BudgetBoundsWhatIsHeldAtOnce)
{
	struct Row {
		uint32_t size;
		size_t held;
	};
	const Row rows[] = {
		{HELD_PICTURES_BUDGET / 4, 4},     /* exactly the budget */
		{HELD_PICTURES_BUDGET / 4 + 1, 3}, /* one byte more each: one fewer */
		{7 * MiB, 4},
		{STREAM_MAX_PAYLOAD, 4},
		{1000, HELD_PICTURES_MAX}, /* small pictures: the slots run out first */
	};
	std::vector<uint8_t> bytes(STREAM_MAX_PAYLOAD + 1, 0x5a); /* the largest row */
	for (const Row &row : rows) {
		HeldPtr held(held_pictures_create());
		size_t count = 0;
		while (held_pictures_push(held.get(), bytes.data(), row.size, count, count))
			count++;
		EXPECT_EQ(count, row.held) << row.size;
		EXPECT_FALSE(held_pictures_room(held.get(), row.size)) << row.size;
		EXPECT_LE(held->reserved, HELD_PICTURES_BUDGET) << row.size;
		/* The oldest gone, the next one fits, in the order pushed. */
		ASSERT_EQ(held_pictures_front(held.get())->present_at, 0u);
		held_pictures_pop(held.get());
		EXPECT_TRUE(held_pictures_push(held.get(), bytes.data(), row.size, count, count)) << row.size;
		EXPECT_EQ(held_pictures_front(held.get())->present_at, 1u);
	}
}

/* Once the pictures stop, buffers above HELD_PICTURES_KEEP are freed and
 * smaller ones kept for the next time; held ones are never touched. */
TEST(HeldPictures, TrimFreesOnlyLargeBuffersOfEmptySlots)
{
	HeldPtr held(held_pictures_create());
	std::vector<uint8_t> bytes(2 * HELD_PICTURES_KEEP);
	ASSERT_TRUE(held_pictures_push(held.get(), bytes.data(), HELD_PICTURES_KEEP, 0, 0));
	ASSERT_TRUE(held_pictures_push(held.get(), bytes.data(), HELD_PICTURES_KEEP + 1, 1, 1));
	ASSERT_TRUE(held_pictures_push(held.get(), bytes.data(), 2 * HELD_PICTURES_KEEP, 2, 2));
	held_pictures_trim(held.get());
	EXPECT_EQ(held->reserved, 4 * HELD_PICTURES_KEEP + 1) << "held pictures keep their buffers";

	held_pictures_pop(held.get());
	held_pictures_pop(held.get());
	held_pictures_trim(held.get());
	EXPECT_EQ(held->reserved, 3 * HELD_PICTURES_KEEP) << "the emptied slot above the limit freed, the other kept";
	held_pictures_clear(held.get());
	held_pictures_trim(held.get());
	EXPECT_EQ(held->reserved, HELD_PICTURES_KEEP);
}
