// Audio files for the render tests: written and read back with miniaudio, converted and inspected with
// sox as an independent tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A folder of its own under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string file(std::string const& name) const { return path + "/" + name; }

private:
    std::string path;
};

struct Audio {
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    std::vector<float> samples;  // interleaved
    std::uint64_t frames() const { return channels ? samples.size() / channels : 0; }
};

// 32-bit float WAV of the given interleaved samples.
void writeFloatWav(std::string const& path, std::uint32_t rate, std::uint32_t channels,
                   std::vector<float> const& samples);
// `value` as `bytes` bytes, least significant first.
std::string littleEndian(std::uint32_t value, int bytes);
// The 44-byte header of an integer PCM WAV file whose data chunk says it holds `dataBytes`.
std::string pcmWavHeader(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint32_t dataBytes);
// The file decoded at its own rate and channel count (mono when `mono`), as 32-bit float.
Audio decodeFile(std::string const& path, bool mono = false);
// Runs a shell command; its standard output, or a failed test when it exits non-zero.
std::string shell(std::string const& command);
// A sine of the given length and amplitude.
std::vector<float> tone(std::uint32_t rate, std::uint64_t frames, float amplitude);
