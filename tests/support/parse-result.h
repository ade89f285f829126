#pragma once
/* What a tool does once it has read its command line. */

enum class ParseResult { run, exit_ok, exit_error };

/* The exit status when the tool ends there: 0 after --help, 2 after a bad
 * option; -1 when it goes on to run. */
constexpr int parse_exit_status(ParseResult result)
{
	return result == ParseResult::exit_ok ? 0 : result == ParseResult::exit_error ? 2 : -1;
}
