#pragma once
/* libobs's log as the host sees it: the plug-in's own lines (those starting
 * with its prefix, LOGTEXT_PREFIX) are kept, in order, and tell the
 * connection state; the rest is dropped, or echoed to stderr when asked. */

#include <mutex>
#include <string>
#include <vector>

enum class LinkState {
	connecting,     /* nothing said yet */
	connected,      /* the stream's handshake was accepted */
	reconnecting,   /* a connection ended or was refused; retrying */
	unreachable,    /* no connection could be made; retrying */
	forward_failed, /* USB mode: the adb server made no forward; retrying */
	rejected,       /* the peer's handshake was not an Ostrelin stream */
};

const char *link_state_name(LinkState state);

/* The connection state after this plug-in line, given the state before it. */
LinkState link_state_after(LinkState before, const std::string &line);

/* Takes over libobs's log handler for its lifetime (one at a time). */
class PluginLog {
public:
	explicit PluginLog(bool echo_everything);
	~PluginLog();
	PluginLog(const PluginLog &) = delete;
	PluginLog &operator=(const PluginLog &) = delete;

	std::vector<std::string> lines() const;
	LinkState state() const;

private:
	static void handle(int level, const char *format, va_list args, void *param);

	bool echo_everything_;
	mutable std::mutex lock_;
	std::vector<std::string> lines_;
	LinkState state_ = LinkState::connecting;
};
