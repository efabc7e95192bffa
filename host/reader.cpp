// Parsing of command lines. Strict JSON, with a nesting limit: copying and writing a value recurse
// once per level, so a line of a few hundred kilobytes of brackets would otherwise exhaust the stack.
// A raw NUL byte is refused first: the parser takes it for the end of input and would never look at what
// follows it, so a command could run from a line that isn't one.
#include "host/reader.h"

#include <stdexcept>

using nlohmann::json;

namespace {

constexpr int MAX_DEPTH = 512;

bool refuseDeepNesting(int depth, json::parse_event_t, json&)
{
    if (depth >= MAX_DEPTH)
        throw std::length_error("nested too deeply");
    return true;
}

}  // namespace

std::optional<json> parseCommand(std::string const& line)
{
    if (line.find('\0') != std::string::npos)
        return std::nullopt;
    try {
        return json::parse(line, refuseDeepNesting);
    } catch (std::exception const&) {
        return std::nullopt;
    }
}
