#include "command-line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

OptionRow option_flag(const char *name, bool *flag)
{
	return {name, false, [flag](const char *) {
			*flag = true;
			return true;
		}};
}

OptionRow option_text(const char *name, std::string *text)
{
	return {name, true, [text](const char *value) {
			*text = value;
			return true;
		}};
}

/* getopt_long's table: the rows by their index (from 256, beyond any short
 * option), --help as 'h', and the closing empty entry. */
static std::vector<option> long_options(const std::vector<OptionRow> &rows)
{
	std::vector<option> table = {{"help", no_argument, nullptr, 'h'}};
	for (size_t i = 0; i < rows.size(); i++)
		table.push_back(
			{rows[i].name, rows[i].takes_value ? required_argument : no_argument, nullptr, 256 + (int)i});
	table.push_back({nullptr, 0, nullptr, 0});
	return table;
}

OptionsRead read_options(int argc, char **argv, const std::vector<OptionRow> &rows, const char *who)
{
	std::vector<option> table = long_options(rows);
	optind = 1;
	opterr = 1;
	int id;
	while ((id = getopt_long(argc, argv, "h", table.data(), nullptr)) != -1) {
		if (id == 'h')
			return OptionsRead::help;
		size_t row = (size_t)(id - 256);
		if (id < 256 || row >= rows.size() || !rows[row].apply(optarg)) {
			fprintf(stderr, "Try '%s --help'.\n", argv[0]);
			return OptionsRead::bad;
		}
	}
	if (optind < argc) {
		fprintf(stderr, "%s: unexpected argument \"%s\"\nTry '%s --help'.\n", who, argv[optind], argv[0]);
		return OptionsRead::bad;
	}
	return OptionsRead::run;
}

bool text_to_long(const char *text, int base, long lo, long hi, long *out)
{
	errno = 0;
	char *end = nullptr;
	long value = strtol(text, &end, base);
	if (errno != 0 || end == text || *end != '\0' || value < lo || value > hi)
		return false;
	*out = value;
	return true;
}

bool text_to_double(const char *text, double *out)
{
	char *end = nullptr;
	double value = strtod(text, &end);
	if (end == text || *end != '\0')
		return false;
	*out = value;
	return true;
}
