// Turning one line of standard input into a command for the host.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

// The line as one JSON value of any type; empty when it isn't JSON (white space only, two values,
// trailing commas...) or nests deeper than any command does. Any thread.
std::optional<nlohmann::json> parseCommand(std::string const& line);
