#pragma once
/* Reading one accepted stream packet by packet: capabilities and audio
 * configuration kept up to date, audio and video decoded, timed on OBS's
 * clock and handed to OBS, statistics logged every five seconds. */

#include <obs-module.h>

#include <atomic>

struct Receiver;
struct StreamConnection;
struct StreamStatus;
struct ObsTick;

/* The connection thread's record, linked to what it shares with its source
 * (none of them owned; all outlive it). */
Receiver *receiver_create(obs_source_t *source, StreamConnection *conn, StreamStatus *status,
			  const std::atomic<bool> *smooth_sync, const ObsTick *tick);
/* Frees the record and what it holds; once no thread runs. Null is fine. */
void receiver_free(Receiver *rx);

/* Runs until the stream ends or the source is stopped. */
void receive_loop(Receiver *rx);
