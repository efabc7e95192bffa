// The render's output: a 32-bit float stereo WAV file that replaces an earlier one only once complete,
// and the checks on where it may go.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class WavWriter {
public:
    // A WAV file's sizes are 32-bit: its RIFF size, 36 bytes of headers and 8 bytes a frame, holds at most this.
    static constexpr std::uint64_t maxFrames = (0xFFFFFFFFull - 36) / 8;

    // Why `path` can't take the render of `input`, before anything is written; empty when it can. An
    // existing file must be one its user may write.
    static std::string refusal(std::string const& path, std::string const& input);

    WavWriter();
    // Removes an unfinished file.
    ~WavWriter();
    WavWriter(WavWriter const&) = delete;
    WavWriter& operator=(WavWriter const&) = delete;

    // A regular file at `path` (a link to one included), or a new one, is written under a name of its own
    // beside it and moved into place by finish(); SIGINT, SIGTERM and SIGHUP remove that file until then.
    // Written directly: anything else (a device such as /dev/null), and a file in a folder that we may
    // not write to.
    bool open(std::string const& path, std::uint32_t sampleRate);
    // False once anything could not be written.
    bool write(float const* interleaved, std::uint64_t frames);
    // Completes the header and puts the file in place; false when anything could not be written, and
    // then the file at the path is as it was (unless written directly).
    bool finish();
    // Why open(), write() or finish() failed: the system's reason.
    std::string reason() const;

private:
    struct Output;
    std::unique_ptr<Output> output;
};
