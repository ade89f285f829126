#pragma once
/* Captures libobs log lines (text and level) so tests can assert exact texts.
 * One capture at a time; it restores libobs's own handler when it goes. */

#include "log/log-texts.h"

#include <util/base.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LogLine {
	int level;
	std::string text;
};

class LogCapture {
public:
	explicit LogCapture(bool echo = false) : echo_(echo) { base_set_log_handler(&LogCapture::handle, this); }
	~LogCapture() { base_set_log_handler(nullptr, nullptr); }
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	std::vector<LogLine> lines() const
	{
		std::lock_guard<std::mutex> guard(lock_);
		return lines_;
	}

	/* Lines that start with the plug-in's prefix, in order. */
	std::vector<LogLine> plugin_lines() const
	{
		std::vector<LogLine> out;
		for (auto &line : lines())
			if (line.text.rfind(LOGTEXT_PREFIX, 0) == 0)
				out.push_back(line);
		return out;
	}

	size_t count(int level, const std::string &text) const
	{
		size_t n = 0;
		for (auto &line : lines())
			n += line.level == level && line.text == text;
		return n;
	}

	bool contains(int level, const std::string &text) const { return count(level, text) > 0; }

	/* libobs's own line, whatever its figures: "adding N milliseconds of
	 * audio buffering, total audio buffering is now N milliseconds (source:
	 * ...)". */
	size_t obs_audio_buffering_lines() const
	{
		size_t n = 0;
		for (auto &line : lines())
			n += line.text.find("audio buffering") != std::string::npos &&
			     line.text.rfind(LOGTEXT_PREFIX, 0) != 0;
		return n;
	}

	size_t count_prefix(const std::string &prefix) const
	{
		size_t n = 0;
		for (auto &line : lines())
			n += line.text.rfind(prefix, 0) == 0;
		return n;
	}

	/* Waits until a line with this exact text and level has been logged. */
	bool wait_for(int level, const std::string &text, std::chrono::milliseconds limit) const
	{
		return wait_until([&] { return contains(level, text); }, limit);
	}

	bool wait_until_count(int level, const std::string &text, size_t n, std::chrono::milliseconds limit) const
	{
		return wait_until([&] { return count(level, text) >= n; }, limit);
	}

	bool wait_for_prefix(const std::string &prefix, size_t n, std::chrono::milliseconds limit) const
	{
		return wait_until([&] { return count_prefix(prefix) >= n; }, limit);
	}

	void clear()
	{
		std::lock_guard<std::mutex> guard(lock_);
		lines_.clear();
	}

private:
	template<typename Pred> bool wait_until(Pred pred, std::chrono::milliseconds limit) const
	{
		auto deadline = std::chrono::steady_clock::now() + limit;
		while (!pred()) {
			if (std::chrono::steady_clock::now() >= deadline)
				return false;
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		}
		return true;
	}

	static void handle(int level, const char *format, va_list args, void *param)
	{
		auto *self = static_cast<LogCapture *>(param);
		char text[8192];
		vsnprintf(text, sizeof(text), format, args);
		if (self->echo_)
			fprintf(stderr, "[log %d] %s\n", level, text);
		std::lock_guard<std::mutex> guard(self->lock_);
		self->lines_.push_back({level, text});
	}

	bool echo_;
	mutable std::mutex lock_;
	std::vector<LogLine> lines_;
};
