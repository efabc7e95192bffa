// Process entry: the first argument picks host mode (none), "--scan <bundle>" or "--render ...".
#include "host/protocol.h"
#include "host/render.h"
#include "plugin/vst3.h"

#include <cstdio>
#include <string>

namespace {

// Prints the module's effect classes, or the module loader's reason when it found none.
int scan(std::string const& path)
{
    std::string error;
    std::vector<PluginInfo> const found = scanVst3(path, error);
    nlohmann::json plugins = nlohmann::json::array();
    for (PluginInfo const& info : found)
        plugins.push_back(toJson(info));
    if (!found.empty() || error.empty())
        send({{"plugins", plugins}});
    else
        send({{"error", error}});
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string const first = argc > 1 ? argv[1] : "";
    if (argc > 2 && first == "--scan")
        return scan(argv[2]);
    if (first == "--render")
        return render(argc, argv);
    if (!first.empty()) {
        std::fprintf(stderr, "Unknown option %s\n", first.c_str());
        return 2;
    }
    return 0;
}
