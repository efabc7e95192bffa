// The loading entry: picks the implementation for the description's format.
#include "plugin/plugin.h"

#include "plugin/vst3.h"

std::unique_ptr<Plugin> loadPlugin(PluginRef const& ref, std::string& error)
{
    if (ref.format == "vst3")
        return loadVst3(ref, error);
    error = "This system can't load " + ref.format + " plugins.";
    return nullptr;
}
