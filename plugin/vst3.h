// The VST 3 implementation of Plugin, and the listing of a VST 3 module's effect classes.
#pragma once

#include "plugin/plugin.h"

#include <memory>
#include <string>
#include <vector>

// Loads the class `ref.uid` of the VST 3 module at `ref.path`; empty owner and a sentence on failure.
std::unique_ptr<Plugin> loadVst3(PluginRef const& ref, std::string& error);

// The effect classes of the module at `path`, in factory order. Never writes `error` itself:
// when the module won't load, the module loader's own text is left there.
std::vector<PluginInfo> scanVst3(std::string const& path, std::string& error);
