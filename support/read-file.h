#pragma once

#include <optional>
#include <string>

/* The whole file, byte for byte; nothing when it cannot be opened. */
std::optional<std::string> read_file(const std::string &path);
