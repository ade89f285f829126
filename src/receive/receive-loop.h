#pragma once
/* Reading one accepted stream packet by packet: capabilities and audio
 * configuration kept up to date, audio and video decoded, timed on OBS's
 * clock and handed to OBS, statistics logged every five seconds. */

struct Receiver;
struct SourceInstance;

/* Runs until the stream ends or the source is stopped. */
void receive_loop(SourceInstance *inst);

/* Frees what the connection thread's record holds; once no thread runs. */
void receiver_free(Receiver *rx);
