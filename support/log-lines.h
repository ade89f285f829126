#pragma once
/* The plug-in's log lines as a test, a tool or a benchmark expects them,
 * built from the plug-in's own texts (src/log/log-texts.h) rather than copies:
 *
 *   plugin_line(LOGTEXT_X, fields...)   the whole line, fields filled in
 *   plugin_line_head(LOGTEXT_X)         its fixed start, up to the first field
 *   plugin_line_regex(LOGTEXT_X)        a pattern of the whole line, each
 *                                       field a group, in order
 *
 * Header only and without libobs, so the Windows programs can use it too. */

#include "log/log-texts.h"

#include <cstdarg>
#include <cstdio>
#include <regex>
#include <string>

__attribute__((__format__(__printf__, 1, 2))) inline std::string format_text(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	va_list again;
	va_copy(again, args);
	int length = vsnprintf(nullptr, 0, format, args);
	va_end(args);
	std::string text(length > 0 ? (size_t)length : 0, '\0');
	if (length > 0)
		vsnprintf(text.data(), text.size() + 1, format, again);
	va_end(again);
	return text;
}

/* A literal text only: the compiler checks the fields against it. */
#define plugin_line(text, ...) format_text(LOGTEXT_PREFIX text __VA_OPT__(, ) __VA_ARGS__)

inline std::string plugin_line_head(const char *text)
{
	std::string line = std::string(LOGTEXT_PREFIX) + text;
	return line.substr(0, line.find('%'));
}

inline std::string regex_escaped(const std::string &text)
{
	static const std::string special = "\\^$.|?*+()[]{}";
	std::string out;
	for (char c : text) {
		if (special.find(c) != std::string::npos)
			out += '\\';
		out += c;
	}
	return out;
}

/* The fields the texts use: %d, %u, %lld, %llu, %s and %.Nf. A signed field
 * may carry a minus sign, an unsigned one never does; %.Nf has exactly N
 * decimals (%f six). */
inline std::regex plugin_line_regex(const char *text)
{
	std::string pattern = regex_escaped(LOGTEXT_PREFIX);
	for (const char *c = text; *c; c++) {
		if (*c != '%') {
			pattern += regex_escaped(std::string(1, *c));
			continue;
		}
		c++;
		int decimals = 6;
		if (*c == '.') {
			decimals = 0;
			for (c++; *c >= '0' && *c <= '9'; c++)
				decimals = decimals * 10 + (*c - '0');
		}
		while (*c == 'l')
			c++;
		if (*c == 'u')
			pattern += "(\\d+)";
		else if (*c == 'd')
			pattern += "(-?\\d+)";
		else if (*c == 'f' && decimals > 0)
			pattern += "(-?\\d+\\.\\d{" + std::to_string(decimals) + "})";
		else if (*c == 'f')
			pattern += "(-?\\d+)";
		else
			pattern += "(.*)";
	}
	return std::regex(pattern);
}
