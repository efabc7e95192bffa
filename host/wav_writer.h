// The render's output: a 32-bit float stereo WAV file that replaces an earlier one only once complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class WavWriter {
public:
    // A WAV file's sizes are 32-bit: its RIFF size, 36 bytes of headers and 8 bytes a frame, holds at most this.
    static constexpr std::uint64_t maxFrames = (0xFFFFFFFFull - 36) / 8;

    WavWriter();
    // Removes an unfinished file.
    ~WavWriter();
    WavWriter(WavWriter const&) = delete;
    WavWriter& operator=(WavWriter const&) = delete;

    // A regular file at `path` (a link to one included), or a new one, is written under a name of its own
    // beside it and moved into place by finish(); anything else, a device such as /dev/null, directly.
    bool open(std::string const& path, std::uint32_t sampleRate);
    // False once anything could not be written.
    bool write(float const* interleaved, std::uint64_t frames);
    // Completes the header and puts the file in place; false when anything could not be written, and
    // then the file at the path is as it was.
    bool finish();

private:
    struct Output;
    std::unique_ptr<Output> output;
};
