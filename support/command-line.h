#pragma once
/* Long options of the reference tools, read from one table: a row per option
 * with what its value does. Each tool words its own complaints about a value;
 * the loop over argv, --help, and the hints after a bad option are here. */

#include <functional>
#include <string>
#include <vector>

struct OptionRow {
	const char *name;
	bool takes_value;
	/* Takes the value (null for an option without one); false for a bad
	 * value, once it has said why on stderr. */
	std::function<bool(const char *value)> apply;
};

/* An option without a value that sets *flag. */
OptionRow option_flag(const char *name, bool *flag);
/* An option whose value is kept as it is given. */
OptionRow option_text(const char *name, std::string *text);

enum class OptionsRead { run, help, bad };

/* A number defined as a macro, as a string literal: a help text names a
 * default from where it is defined. */
#define HELP_NUMBER(macro) HELP_NUMBER_DIGITS(macro)
#define HELP_NUMBER_DIGITS(digits) #digits

/* Reads argv against the rows and -h/--help. After a bad option or value it
 * prints "Try '<argv[0]> --help'."; after a word that is no option,
 * "<who>: unexpected argument ..." and the same hint. */
OptionsRead read_options(int argc, char **argv, const std::vector<OptionRow> &rows, const char *who);

/* The whole text as a whole number within [lo, hi]; base 0 also takes 0x
 * hexadecimal (and a leading 0 as octal), as strtol does. */
bool text_to_long(const char *text, int base, long lo, long hi, long *out);
/* The whole text as a number; false for text around it or none at all. */
bool text_to_double(const char *text, double *out);
