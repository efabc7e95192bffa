// What the render asks of the file system before it reads its input and state files or writes them.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

// The file `path` names, following links; nothing when it can't be looked at.
std::optional<struct stat> statusOf(std::string const& path);

// Whether `path` names a regular file, following links. Anything else (a pipe, a device, a folder) may
// block, never end or fail part way.
bool isRegularFile(std::string const& path);

// The whole of a regular file; nothing when it isn't one, can't be read or can't be held in memory.
std::optional<std::vector<unsigned char>> readRegularFile(std::string const& path);

// Replaces the file's content with `bytes`; false when it couldn't be written, and `reason` the system's
// reason why.
bool writeFile(std::string const& path, std::vector<unsigned char> const& bytes, std::string& reason);
