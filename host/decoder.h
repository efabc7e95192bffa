// The render's input: an audio file decoded to one channel of 32-bit float at its own rate, all its
// channels averaged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class Decoder {
public:
    Decoder();
    ~Decoder();
    Decoder(Decoder const&) = delete;
    Decoder& operator=(Decoder const&) = delete;

    // False when the file isn't audio the decoder reads (WAV and its kin, FLAC, MP3).
    bool open(std::string const& path);
    void close();
    std::uint32_t sampleRate() const;
    // Whether the input really holds more than `frames` frames. A length that a header announces but the
    // file can't hold (the placeholder a WAV written through a pipe carries) doesn't count.
    bool holdsMoreThan(std::uint64_t frames);
    // Whether `decoded` frames fall short of the length the input states reliably (a FLAC's total): the
    // decoder skipped what it couldn't read.
    bool endedShort(std::uint64_t decoded) const;
    // Up to `frames` frames; fewer only at the end of the input or on a read error. Allocates nothing.
    std::uint64_t read(float* samples, std::uint64_t frames);

private:
    struct Source;
    std::unique_ptr<Source> source;
    std::string path;
};
