// Feeds arbitrary bytes through the host's command path, line by line, as the standard-input reader
// does: parsing, then handling on this thread. Replies are discarded; crashes, hangs and sanitizer
// reports are what count. "$PASS" in an input stands for the pass-through test plug-in's description.
#include "host/host.h"
#include "host/protocol.h"
#include "host/reader.h"
#include "plugin/vst3.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

std::string const PASS_THROUGH = RACKHOST_TEST_MODULES "/passthrough.vst3";

std::string passThrough()
{
    std::string error;
    std::vector<PluginInfo> const found = scanVst3(PASS_THROUGH, error);
    if (found.empty()) {
        std::fprintf(stderr, "command_fuzz: couldn't scan %s: %s\n", PASS_THROUGH.c_str(), error.c_str());
        std::abort();
    }
    return toJson(found.front()).dump();
}

struct Fixture {
    std::string description = passThrough();
    // One host for the whole run, as in the program; it is never destroyed.
    Host& host = *new Host();
    // Every input starts from the same place: no device, one plug-in loaded as "a", no retired lists.
    nlohmann::json stop = {{"cmd", "stop"}};
    nlohmann::json reset = nlohmann::json::parse(R"({"cmd":"load","slots":[{"id":"a","plugin":)" + description + "}]}");
};

Fixture* fixture = nullptr;

std::string withPlugin(std::string_view text, std::string const& description)
{
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t const found = text.find("$PASS", at);
        out += text.substr(at, found == std::string_view::npos ? std::string_view::npos : found - at);
        if (found == std::string_view::npos)
            break;
        out += description;
        at = found + 5;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::freopen("/dev/null", "w", stdout);
    fixture = new Fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    Fixture& f = *fixture;
    f.host.handle(f.stop);
    f.host.handle(f.reset);
    std::string const text = withPlugin({reinterpret_cast<char const*>(data), size}, f.description);
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string const line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (std::optional<nlohmann::json> const command = parseCommand(line))
            f.host.handle(*command);
    }
    f.host.sendEdited();
    f.host.sendWindows();
    return 0;
}
