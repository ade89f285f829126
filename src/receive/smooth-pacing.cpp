#include "receive/smooth-pacing.h"
#include "receive/held-pictures.h"
#include "log/ostrelin-log.h"
#include "receive/picture-handover.h"
#include "receive/receiver.h"

#include <util/platform.h>

#define PACING_EXACT_NS 2000000ULL /* the end of a wait slept exactly */

std::atomic<void (*)(Receiver *rx)> smooth_pacing_decoded_hook = nullptr;

static_assert(HELD_PICTURES_BUDGET >= STREAM_MAX_PAYLOAD, "a picture of any size the stream allows fits alone");

/* OBS's video tick, in ns; 0 when OBS has no video. A copy of a record of
 * OBS's, taken anew for each plan: OBS's frame rate can change at any time. */
static uint64_t tick_interval(void)
{
	obs_video_info ovi;
	if (!obs_get_video_info(&ovi) || !ovi.fps_num)
		return 0;
	return (uint64_t)ovi.fps_den * 1000000000ULL / ovi.fps_num;
}

void smooth_pacing_show_delay(Receiver *rx, bool report)
{
	const AudioAllowance *timing = &rx->smooth.delay.timing;
	rx->status->smooth_delay_ms = (int32_t)(timing->allowance / 1000000);
	if (report)
		ostrelin_log(LOG_INFO, LOGTEXT_SMOOTH_DELAY, timing->allowance / 1e6,
			     (unsigned long long)timing->dropped_blocks);
}

static void pop_front(SmoothPacing *p)
{
	held_pictures_pop(p->held);
	p->front_decoded = false;
}

/* A payload that gives no picture is passed over: the next one's turn. */
static void decode_front(Receiver *rx)
{
	SmoothPacing *p = &rx->smooth;
	HeldPicture *pic = held_pictures_front(p->held);
	if (picture_decode(rx, pic->data, pic->size, pic->present_at, &p->front, &p->front_decode_ns))
		p->front_decoded = true;
	else
		pop_front(p);
}

static void hand_over_front(Receiver *rx, const Handover &plan, uint64_t interval)
{
	SmoothPacing *p = &rx->smooth;
	HeldPicture *pic = held_pictures_front(p->held);
	uint64_t t = picture_hand_over(rx, &p->front, p->front_decode_ns, pic->sender_ts);
	smooth_handover_done(&p->handover, plan, t, interval);
	/* A run behind OBS's late ticks: the delay grows, once for the pictures
	 * held already (the gap comes after them). */
	if ((int64_t)(pic->present_at - p->widened_through) > 0 &&
	    smooth_delay_behind_obs(&p->delay, p->handover.behind_run, interval, t)) {
		HeldPictures *held = p->held; /* the newest held picture: the gap comes after it */
		p->widened_through = held->slot[(held->first + held->count - 1) % HELD_PICTURES_MAX].present_at;
		smooth_pacing_show_delay(rx, false);
		if (!p->told_obs_late)
			ostrelin_log(LOG_INFO, LOGTEXT_SMOOTH_OBS_LATE, (int64_t)(t - pic->present_at) / 1e6,
				     p->delay.timing.allowance / 1e6);
		p->told_obs_late = true;
	}
	pop_front(p);
}

/* The oldest held picture through the decoder and to OBS now. */
static void present_front(Receiver *rx)
{
	SmoothPacing *p = &rx->smooth;
	if (!p->front_decoded)
		decode_front(rx);
	if (p->front_decoded)
		hand_over_front(rx, Handover{}, tick_interval());
}

void smooth_pacing_hold(Receiver *rx, const uint8_t *payload, uint32_t size, uint64_t ts, uint64_t now)
{
	SmoothPacing *p = &rx->smooth;
	SmoothPicture sp = smooth_delay_picture(&p->delay, audio_clock_pts(&rx->audio_clock, ts), now);
	smooth_pacing_show_delay(rx, sp.report);

	/* Held pictures stay within their budget: the oldest go to OBS first. */
	while (!held_pictures_room(p->held, size) && held_pictures_front(p->held))
		present_front(rx);
	held_pictures_push(p->held, payload, size, sp.present_at, ts);
}

bool smooth_pacing_run(Receiver *rx)
{
	SmoothPacing *p = &rx->smooth;
	for (;;) {
		if (!rx->conn->running)
			return false;
		HeldPicture *pic = held_pictures_front(p->held);
		if (!pic)
			return true;
		uint64_t now = os_gettime_ns();
		uint64_t interval = tick_interval();
		uint64_t tick = obs_tick_taken(rx->tick, obs_get_video_frame_time());
		Handover plan = smooth_handover(pic->present_at, &p->handover, tick, interval, now);
		/* Decoded the lead before its hand-over, so that the picture is
		 * ready then, whatever its decode takes. */
		uint64_t next = p->front_decoded ? plan.time : plan.time - (uint64_t)PICTURE_LEAD;
		if ((int64_t)(next - now) <= 0) {
			if (p->front_decoded) {
				hand_over_front(rx, plan, interval);
			} else {
				decode_front(rx);
				auto hook = smooth_pacing_decoded_hook.load();
				if (hook && p->front_decoded)
					hook(rx);
			}
			continue;
		}
		/* The last moments are slept exactly: a wait for the socket may
		 * end a millisecond late, and a hand-over just after a tick is a
		 * tick late. */
		uint64_t wait = next - now;
		if (wait <= PACING_EXACT_NS) {
			os_sleepto_ns(next);
			continue;
		}
		if (connection_wait_data(rx->conn, (uint32_t)((wait - PACING_EXACT_NS) / 1000000 + 1)))
			return true;
	}
}

void smooth_pacing_follow_setting(Receiver *rx)
{
	SmoothPacing *p = &rx->smooth;
	bool wanted = *rx->smooth_sync;
	if (wanted == p->on)
		return;
	uint64_t now = os_gettime_ns();
	if (wanted) {
		if (!p->held)
			p->held = held_pictures_create();
		smooth_delay_start(&p->delay, &rx->audio_allowance, now);
		p->on = true;
		smooth_pacing_show_delay(rx, false);
		ostrelin_log(LOG_INFO, LOGTEXT_SMOOTH_ON);
	} else {
		/* Every held picture still goes through the decoder, in order. */
		while (held_pictures_front(p->held))
			present_front(rx);
		held_pictures_trim(p->held);
		smooth_delay_stop(&p->delay, &rx->audio_allowance, now);
		p->on = false;
		rx->status->smooth_delay_ms = -1;
		ostrelin_log(LOG_INFO, LOGTEXT_SMOOTH_OFF);
	}
}

void smooth_pacing_connection_start(Receiver *rx)
{
	rx->smooth.told_obs_late = false;
	rx->smooth.widened_through = 0;
	if (rx->smooth.on)
		smooth_delay_start(&rx->smooth.delay, &rx->audio_allowance, os_gettime_ns());
}

void smooth_pacing_connection_end(SmoothPacing *p)
{
	p->front_decoded = false;
	p->handover = {};
	held_pictures_clear(p->held);
	held_pictures_trim(p->held);
}

void smooth_pacing_free(SmoothPacing *p)
{
	held_pictures_destroy(p->held);
	p->held = nullptr;
}
