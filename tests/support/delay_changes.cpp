// Finding each probe of the input in the output, bit for bit.
#include "tests/support/delay_changes.h"

#include <cstdlib>

namespace {

constexpr std::size_t probeFrames = 32;

bool matchesAt(std::vector<float> const& frames, std::size_t at, std::size_t lag)
{
    for (std::size_t i = at; i < at + probeFrames; ++i) {
        if (frames[i * recordedChannels] != frames[(i + lag) * recordedChannels + 2])
            return false;
    }
    return true;
}

std::size_t longestDelay(int rate)
{
    return static_cast<std::size_t>(rate / 5);
}

// The first delay at which the probe from `at` matches; `longestDelay` when none does.
std::size_t delayOf(std::vector<float> const& frames, std::size_t at, int rate)
{
    std::size_t lag = 0;
    while (lag < longestDelay(rate) && !matchesAt(frames, at, lag))
        ++lag;
    return lag;
}

}  // namespace

DelayChanges delayChanges(std::vector<float> const& frames, int rate)
{
    DelayChanges found;
    std::size_t const count = frames.size() / recordedChannels;
    std::size_t const spacing = static_cast<std::size_t>(rate / 100);
    std::size_t delay = longestDelay(rate);
    for (std::size_t at = 0; at + longestDelay(rate) + probeFrames < count; at += spacing) {
        ++found.probes;
        if (delay < longestDelay(rate) && matchesAt(frames, at, delay))
            continue;
        std::size_t const lag = delayOf(frames, at, rate);
        if (lag == longestDelay(rate)) {
            ++found.unmatched;
            continue;
        }
        if (delay < longestDelay(rate)) {
            ++found.changes;
            (lag > delay ? found.inserted : found.dropped) += lag > delay ? lag - delay : delay - lag;
        }
        delay = lag;
    }
    return found;
}

bool reachesOutput(std::vector<float> const& frames, std::size_t at, int rate)
{
    return at + longestDelay(rate) + probeFrames < frames.size() / recordedChannels &&
           delayOf(frames, at, rate) < longestDelay(rate);
}
