#include "plugin-log.h"
#include "log-lines.h"

#include <util/base.h>

#include <cstdarg>
#include <cstdio>

static bool starts_with(const std::string &text, const std::string &prefix)
{
	return text.rfind(prefix, 0) == 0;
}

const char *link_state_name(LinkState state)
{
	/* In the order of LinkState. */
	static const char *const names[] = {"connecting",  "connected",          "reconnecting",
					    "unreachable", "adb forward failed", "rejected"};
	static_assert(sizeof(names) / sizeof(*names) == (size_t)LinkState::rejected + 1);
	return names[(int)state];
}

LinkState link_state_after(LinkState before, const std::string &line)
{
	/* Each line is known by its text up to the first field. */
	static const struct {
		std::string prefix;
		LinkState state;
	} markers[] = {
		{plugin_line_head(LOGTEXT_STREAM_CONNECTED), LinkState::connected},
		{plugin_line_head(LOGTEXT_DISCONNECTED), LinkState::reconnecting},
		{plugin_line_head(LOGTEXT_UNREACHABLE), LinkState::unreachable},
		{plugin_line_head(LOGTEXT_FORWARD_FAILED), LinkState::forward_failed},
		{plugin_line_head(LOGTEXT_NOT_OSTRELIN), LinkState::rejected},
		{plugin_line_head(LOGTEXT_VERSION_MISMATCH), LinkState::rejected},
		{plugin_line_head(LOGTEXT_UNSUPPORTED_CODEC), LinkState::rejected},
	};
	LinkState after = before;
	for (const auto &marker : markers)
		if (starts_with(line, marker.prefix)) {
			after = marker.state;
			break;
		}
	/* A failed attempt logs its cause and then the retry line; keep the
	 * cause, which says more. */
	bool before_is_cause = before == LinkState::unreachable || before == LinkState::forward_failed ||
			       before == LinkState::rejected;
	if (after == LinkState::reconnecting && before_is_cause)
		return before;
	if (after == LinkState::unreachable && before == LinkState::forward_failed)
		return before;
	return after;
}

PluginLog::PluginLog(bool echo_everything) : echo_everything_(echo_everything)
{
	base_set_log_handler(&PluginLog::handle, this);
}

PluginLog::~PluginLog()
{
	base_set_log_handler(nullptr, nullptr);
}

std::vector<std::string> PluginLog::lines() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return lines_;
}

LinkState PluginLog::state() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return state_;
}

void PluginLog::handle(int level, const char *format, va_list args, void *param)
{
	auto *self = static_cast<PluginLog *>(param);
	char text[8192];
	vsnprintf(text, sizeof(text), format, args);
	if (self->echo_everything_)
		fprintf(stderr, "libobs[%d]: %s\n", level, text);
	std::string line = text;
	if (!starts_with(line, LOGTEXT_PREFIX))
		return;
	std::lock_guard<std::mutex> guard(self->lock_);
	self->state_ = link_state_after(self->state_, line);
	self->lines_.push_back(std::move(line));
}
