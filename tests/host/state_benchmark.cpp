// Not a test: round-trip time of "state" commands for a loaded slot through the real program,
// reported as median and 99th percentile.
#include "program.h"

#include <algorithm>
#include <cstdio>

int main()
{
    Program host;
    if (host.line() != READY)
        return 1;
    std::string const slots = slotList(descriptionOf(RACKHOST_TEST_MODULES "/passthrough.vst3"));
    if (host.ask(R"({"cmd":"load","id":0,"slots":)" + slots + "}") != ok("0"))
        return 1;

    constexpr int warmUp = 50;
    constexpr int measured = 1000;
    std::vector<double> microseconds;
    for (int i = 0; i < warmUp + measured; ++i) {
        auto const start = std::chrono::steady_clock::now();
        std::string const reply = host.ask(R"({"cmd":"state","id":1,"slot":"a"})");
        auto const took = std::chrono::steady_clock::now() - start;
        if (!isState(reply, 1))
            return 1;
        if (i >= warmUp)
            microseconds.push_back(std::chrono::duration<double, std::micro>(took).count());
    }
    std::sort(microseconds.begin(), microseconds.end());
    std::printf("%d \"state\" round trips: median %.1f us, 99th percentile %.1f us, slowest %.1f us\n", measured,
                microseconds[measured / 2], microseconds[measured * 99 / 100], microseconds.back());
    return 0;
}
