// The two ends of the live benchmark (scripts/live-bench.sh):
//   live_signal clicks          endless 48 kHz stereo s16le on standard output: clicks every 500 ms
//                               over a low noise bed, so no run of exact zeros ever occurs in it
//   live_signal measure <file> [rate]  reads a float32le 4-channel recording (channels 0-1 the path's input,
//                               2-3 its output, sample-aligned) and prints one line: the input→output
//                               latency per click (median, 10th and 90th percentile, cross-correlation)
//                               and the runs of 8 or more frames of exact zeros per minute: in the
//                               output, those of them the input doesn't explain, and in the input;
//                               then, bit-exactly, how often the delay changed (a block dropped or
//                               inserted), the frames inserted and dropped, and the clicks lost
#include "tests/support/delay_changes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int rate = 48000;
constexpr int clickSpacing = rate / 2;
constexpr int clickFrames = 64;
constexpr int channels = recordedChannels;
constexpr int gapFrames = 8;
// The recording's rate: the clicks are written at 48 kHz, and devices at another rate get them resampled.
int recordingRate = rate;
// Longest latency looked for; well under the click spacing so each click matches only its own echo.
int maxLag()
{
    return recordingRate / 5;
}

std::uint32_t nextRandom(std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

int writeClicks()
{
    std::uint32_t state = 1;
    std::vector<std::int16_t> block(2 * clickSpacing);
    for (;;) {
        for (int i = 0; i < clickSpacing; ++i) {
            // A noise bed of ±(8..64) steps: never zero, so a gap in it is the path's doing.
            int const magnitude = 8 + static_cast<int>(nextRandom(state) % 57);
            int sample = (nextRandom(state) & 1) ? magnitude : -magnitude;
            // A click of random signs decaying over 64 frames: one sharp correlation peak.
            if (i < clickFrames)
                sample += ((nextRandom(state) & 1) ? 1 : -1) * (16000 * (clickFrames - i) / clickFrames);
            block[2 * i] = block[2 * i + 1] = static_cast<std::int16_t>(sample);
        }
        if (std::fwrite(block.data(), sizeof block[0], block.size(), stdout) != block.size())
            return 0;  // the player went away: the benchmark is over
    }
}

// Where runs of `gapFrames` or more frames begin in which both channels `first` and `first + 1` are exactly 0.
std::vector<std::size_t> gaps(std::vector<float> const& frames, std::size_t count, int first)
{
    std::vector<std::size_t> starts;
    std::size_t run = 0;
    for (std::size_t f = 0; f < count; ++f) {
        bool const silent = frames[f * channels + first] == 0.0f && frames[f * channels + first + 1] == 0.0f;
        run = silent ? run + 1 : 0;
        if (run == gapFrames)
            starts.push_back(f + 1 - gapFrames);
    }
    return starts;
}

// The output gaps that aren't an input gap passed on `latency` frames later (within 2 ms).
std::size_t ownGaps(std::vector<std::size_t> const& output, std::vector<std::size_t> const& input, int latency)
{
    std::size_t own = 0;
    for (std::size_t gap : output) {
        bool const passedOn = std::any_of(input.begin(), input.end(), [&](std::size_t in) {
            return std::abs(static_cast<long>(gap) - static_cast<long>(in) - latency) <= recordingRate / 500;
        });
        own += passedOn ? 0 : 1;
    }
    return own;
}

// The lag (in frames) at which the output best matches the click starting at `onset` in the input.
int clickLatency(std::vector<float> const& frames, std::size_t count, std::size_t onset)
{
    double best = 0.0;
    int bestLag = -1;
    for (int lag = 0; lag < maxLag() && onset + lag + clickFrames < count; ++lag) {
        double sum = 0.0;
        for (std::size_t i = onset; i < onset + clickFrames; ++i)
            sum += double(frames[i * channels]) * frames[(i + lag) * channels + 2];
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    return bestLag;
}

// A click is lost when its first samples appear nowhere in the output, bit for bit.
std::size_t lostClicks(std::vector<float> const& frames, std::vector<std::size_t> const& onsets)
{
    return static_cast<std::size_t>(std::count_if(onsets.begin(), onsets.end(), [&](std::size_t onset) {
        return !reachesOutput(frames, onset, recordingRate);
    }));
}

// The `p` quantile of the latencies in frames.
int percentile(std::vector<int> sorted, double p)
{
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1))];
}

int measure(char const* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "live_signal: can't read %s\n", path);
        return 1;
    }
    std::vector<float> frames;
    float block[4096];
    std::size_t got;
    while ((got = std::fread(block, sizeof(float), 4096, file)) > 0)
        frames.insert(frames.end(), block, block + got);
    std::fclose(file);
    std::size_t const count = frames.size() / channels;

    std::vector<int> latencies;
    std::vector<std::size_t> onsets;
    for (std::size_t f = 0; f + maxLag() + clickFrames < count; ++f) {
        if (std::fabs(frames[f * channels]) < 0.25f)
            continue;
        onsets.push_back(f);
        int const lag = clickLatency(frames, count, f);
        if (lag >= 0)
            latencies.push_back(lag);
        f += static_cast<std::size_t>(recordingRate / 4);
    }
    if (latencies.empty()) {
        std::fprintf(stderr, "live_signal: no click reached the output\n");
        return 1;
    }
    double const minutes = static_cast<double>(count) / recordingRate / 60.0;
    double const ms = 1000.0 / recordingRate;
    int const median = percentile(latencies, 0.5);
    std::vector<std::size_t> const input = gaps(frames, count, 0);
    std::vector<std::size_t> const output = gaps(frames, count, 2);
    std::printf("%5.1f s  latency ms median %6.2f p10 %6.2f p90 %6.2f  gaps/min out %6.1f own %6.1f in %5.1f\n",
                minutes * 60.0, median * ms, percentile(latencies, 0.1) * ms, percentile(latencies, 0.9) * ms,
                output.size() / minutes, ownGaps(output, input, median) / minutes, input.size() / minutes);
    DelayChanges const delay = delayChanges(frames, recordingRate);
    std::printf("          bit-exact: delay changes/min %7.1f  frames inserted %7zu dropped %7zu  "
                "probes unmatched %zu of %zu  clicks lost %zu of %zu\n",
                delay.changes / minutes, delay.inserted, delay.dropped, delay.unmatched, delay.probes,
                lostClicks(frames, onsets), onsets.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "clicks") == 0)
        return writeClicks();
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "measure") == 0) {
        if (argc == 4)
            recordingRate = std::atoi(argv[3]);
        return recordingRate > 0 ? measure(argv[2]) : 2;
    }
    std::fprintf(stderr, "usage: live_signal clicks | live_signal measure <float32le 4-channel file> [rate]\n");
    return 2;
}
