#include "read-file.h"

#include <fstream>
#include <iterator>

std::optional<std::string> read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return std::nullopt;
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
