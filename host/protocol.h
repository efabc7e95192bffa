// JSON lines on standard output, base64 for state blobs, and plug-in descriptions.
#pragma once

#include "plugin/plugin.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// Keeps standard output for send() alone and points descriptor 1 at standard error, so text that
// plug-ins print can't reach the reader of our lines. Call once, before any module is opened.
void reserveStandardOutput();
// The descriptor send() writes to: standard output as the process received it.
int linesDescriptor();
// Writes one JSON value as one line (keys sorted, invalid UTF-8 replaced) and flushes; any thread.
void send(nlohmann::json const& message);

std::string base64(std::vector<unsigned char> const& bytes);
// Clears `out`, then decodes up to the first "="; false on any character outside the alphabet.
bool unbase64(std::string const& text, std::vector<unsigned char>& out);

// A scan result as the description "--scan" prints.
nlohmann::json toJson(PluginInfo const& info);
// What to load, read from a description; raises the JSON library's type_error for wrong types.
PluginRef refFrom(nlohmann::json const& description);
