// Process entry: the first argument picks host mode (none), "--scan <bundle>" or "--render ...".
#include "host/host.h"
#include "host/mainloop.h"
#include "host/protocol.h"
#include "host/reader.h"
#include "host/render.h"
#include "plugin/vst3.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

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

// Host mode: commands from standard input, replies and events on standard output, until "quit" or the
// end of input. Ends the process without tearing down what the operating system reclaims anyway.
[[noreturn]] void control()
{
    auto host = std::make_shared<Host>();
    try {
        // The reader keeps its own reference, so commands it has queued find the host alive.
        std::thread([host] {
            std::string line;
            while (std::getline(std::cin, line)) {
                if (line.empty())
                    continue;
                std::optional<nlohmann::json> command = parseCommand(line);
                if (!command) {
                    send({{"error", "Couldn't read that command."}, {"ok", false}});
                    continue;
                }
                mainloop::post([host, command = std::move(*command)] { host->handle(command); });
            }
            // Queued behind every command read so far, so each of them is answered first.
            mainloop::post([] { mainloop::quit(); });
        }).detach();
    } catch (std::system_error const&) {
        std::fprintf(stderr, "Couldn't start reading commands.\n");
        std::_Exit(1);
    }
    send({{"event", "ready"}});
    mainloop::run();
    host.reset();
    std::fflush(stdout);  // what plug-ins printed; our own lines are flushed as they go
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv)
{
    reserveStandardOutput();
    std::string const first = argc > 1 ? argv[1] : "";
    try {
        if (argc > 2 && first == "--scan")
            return scan(argv[2]);
        if (first == "--render")
            return render(argc, argv);
        if (!first.empty()) {
            std::fprintf(stderr, "Unknown option %s\n", first.c_str());
            return 2;
        }
        control();
    } catch (std::exception const& e) {
        // Memory running out, say: a sentence and a failure rather than an abort.
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
