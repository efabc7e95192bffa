// The render's input through miniaudio's decoders, with four things mended around them: 8-bit PCM is
// mapped as (x - 128) / 128, so that its silence is silent; a WAV whose last chunk, the data, says it
// holds 0 bytes is read with the samples that follow it; an MP3 is read without the tags that follow
// its last frame, which the MP3 decoder would take for a damaged frame and drop with it; and a FLAC's
// own total tells a decode that skipped frames from one that ended.
#include "host/decoder.h"

#include <miniaudio.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t CHUNK_FRAMES = 128;

std::uint32_t littleEndian32(unsigned char const* bytes)
{
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

bool readAt(std::FILE* file, long offset, unsigned char* bytes, std::size_t count)
{
    return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(bytes, 1, count, file) == count;
}

// Where an MP3's audio ends: before an ID3v1 tag (128 bytes starting "TAG") and an APEv2 tag before it
// (a 32-byte footer starting "APETAGEX" that gives the tag's size, and a 32-byte header when it has one).
long audioEnd(std::FILE* file, long size)
{
    long end = size;
    std::array<unsigned char, 32> bytes{};
    if (end >= 128 && readAt(file, end - 128, bytes.data(), 3) && std::memcmp(bytes.data(), "TAG", 3) == 0)
        end -= 128;
    if (end >= 32 && readAt(file, end - 32, bytes.data(), 32) && std::memcmp(bytes.data(), "APETAGEX", 8) == 0) {
        long const tagSize = littleEndian32(&bytes[12]);
        long const header = littleEndian32(&bytes[20]) & 0x80000000u ? 32 : 0;
        if (tagSize >= 32 && tagSize + header <= end)
            end -= tagSize + header;
    }
    return end;
}

// Whether a chunk header starts at `at`: four printable characters and a size the file can hold.
bool chunkAt(std::FILE* file, long at, long size)
{
    std::array<unsigned char, 8> header{};
    if (at + 8 > size || !readAt(file, at, header.data(), 8))
        return false;
    bool const named = std::all_of(header.begin(), header.begin() + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
    return named && littleEndian32(&header[4]) <= static_cast<std::uint64_t>(size - at - 8);
}

// Where a RIFF WAV whose last chunk, the data, says 0 bytes though samples follow it states that size; 0
// for any other file. A writer on a pipe leaves such a file, as it can't go back to fill in the size.
long unsizedDataAt(std::FILE* file, long size)
{
    std::array<unsigned char, 12> bytes{};
    if (!readAt(file, 0, bytes.data(), 12) || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(&bytes[8], "WAVE", 4) != 0)
        return 0;
    for (long at = 12; at + 8 <= size && readAt(file, at, bytes.data(), 8);) {
        std::uint32_t const chunkSize = littleEndian32(&bytes[4]);
        if (std::memcmp(bytes.data(), "data", 4) == 0)
            return chunkSize == 0 && at + 8 < size && !chunkAt(file, at + 8, size) ? at + 4 : 0;
        at += 8 + static_cast<long>(chunkSize) + static_cast<long>(chunkSize & 1);
    }
    return 0;
}

}  // namespace

struct Decoder::Source {
    ma_decoder decoder{};
    bool opened = false;
    // The total a FLAC states; 0 for other inputs, whose lengths are a header's guess or a count.
    ma_uint64 statedFrames = 0;

    // 8-bit PCM is decoded as its own bytes, every channel, and mixed here.
    bool eightBit = false;
    std::uint32_t channels = 1;
    std::vector<unsigned char> bytes;

    // An MP3 is read through these, over the bytes before its trailing tags; so is a WAV with unsized
    // data, whose size at `unsizedAt` reads as the library's own mark for a size left open (0xFFFFFFFF):
    // it then counts the whole frames up to the end of the file.
    std::FILE* file = nullptr;
    long end = 0;
    long position = 0;
    long unsizedAt = 0;

    ~Source()
    {
        if (opened)
            ma_decoder_uninit(&decoder);
        if (file)
            std::fclose(file);
    }

    bool openWav(std::string const& path)
    {
        if (!findUnsizedData(path))
            return false;
        // The file's own format first, to see whether it is 8-bit PCM; anything else as before.
        ma_decoder_config native = ma_decoder_config_init(ma_format_unknown, 0, 0);
        native.encodingFormat = ma_encoding_format_wav;
        if (!initWav(path, native))
            return false;
        if (decoder.outputFormat == ma_format_u8) {
            eightBit = true;
            channels = decoder.outputChannels;
            bytes.resize(CHUNK_FRAMES * channels);
            return true;
        }
        ma_decoder_uninit(&decoder);
        ma_decoder_config config = ma_decoder_config_init(ma_format_f32, 1, 0);
        config.encodingFormat = ma_encoding_format_wav;
        return initWav(path, config);
    }

    // Keeps the file open only when its data is unsized; false when it can't be looked at.
    bool findUnsizedData(std::string const& path)
    {
        if (!openWhole(path))
            return false;
        unsizedAt = unsizedDataAt(file, end);
        if (unsizedAt == 0) {
            std::fclose(file);
            file = nullptr;
        }
        return true;
    }

    // Through the callbacks when the data size is mended; straight from the file otherwise.
    bool initWav(std::string const& path, ma_decoder_config const& config)
    {
        if (!file)
            return ma_decoder_init_file(path.c_str(), &config, &decoder) == MA_SUCCESS;
        position = 0;
        return std::fseek(file, 0, SEEK_SET) == 0 && ma_decoder_init(onRead, onSeek, this, &config, &decoder) == MA_SUCCESS;
    }

    bool openFile(std::string const& path, ma_encoding_format format)
    {
        ma_decoder_config config = ma_decoder_config_init(ma_format_f32, 1, 0);
        config.encodingFormat = format;
        return ma_decoder_init_file(path.c_str(), &config, &decoder) == MA_SUCCESS;
    }

    bool openMp3(std::string const& path)
    {
        if (!openWhole(path))
            return false;
        end = audioEnd(file, end);
        if (std::fseek(file, 0, SEEK_SET) != 0)
            return false;
        ma_decoder_config config = ma_decoder_config_init(ma_format_f32, 1, 0);
        config.encodingFormat = ma_encoding_format_mp3;
        return ma_decoder_init(onRead, onSeek, this, &config, &decoder) == MA_SUCCESS;
    }

    // The file for the callbacks, all of it and as it is.
    bool openWhole(std::string const& path)
    {
        if (file)
            std::fclose(file);
        file = std::fopen(path.c_str(), "rb");
        struct stat status {};
        if (!file || fstat(fileno(file), &status) != 0)
            return false;
        end = static_cast<long>(status.st_size);
        position = 0;
        unsizedAt = 0;
        return true;
    }

    static ma_result onRead(ma_decoder* decoder, void* buffer, size_t count, size_t* done)
    {
        auto* self = static_cast<Source*>(decoder->pUserData);
        std::size_t const wanted = std::min(count, static_cast<std::size_t>(self->end - self->position));
        *done = std::fread(buffer, 1, wanted, self->file);
        if (self->unsizedAt != 0) {
            long const from = std::max(self->position, self->unsizedAt);
            long const to = std::min(self->position + static_cast<long>(*done), self->unsizedAt + 4);
            if (from < to)
                std::memset(static_cast<unsigned char*>(buffer) + (from - self->position), 0xFF,
                            static_cast<std::size_t>(to - from));
        }
        self->position += static_cast<long>(*done);
        if (*done == 0 && count > 0)
            return MA_AT_END;
        return MA_SUCCESS;
    }
    static ma_result onSeek(ma_decoder* decoder, ma_int64 offset, ma_seek_origin origin)
    {
        auto* self = static_cast<Source*>(decoder->pUserData);
        ma_int64 const base = origin == ma_seek_origin_start ? 0 : origin == ma_seek_origin_end ? self->end : self->position;
        ma_int64 const target = base + offset;
        if (target < 0 || target > self->end || std::fseek(self->file, static_cast<long>(target), SEEK_SET) != 0)
            return MA_BAD_SEEK;
        self->position = static_cast<long>(target);
        return MA_SUCCESS;
    }

    // Averages the channels of 8-bit frames, each sample (x - 128) / 128.
    std::uint64_t readEightBit(float* samples, std::uint64_t frames)
    {
        std::uint64_t done = 0;
        while (done < frames) {
            ma_uint64 got = 0;
            ma_decoder_read_pcm_frames(&decoder, bytes.data(), std::min(frames - done, CHUNK_FRAMES), &got);
            for (ma_uint64 i = 0; i < got; ++i) {
                int sum = 0;
                for (std::uint32_t c = 0; c < channels; ++c)
                    sum += bytes[i * channels + c] - 128;
                samples[done + i] = static_cast<float>(sum) / (128.0f * static_cast<float>(channels));
            }
            done += got;
            if (got == 0)
                break;
        }
        return done;
    }
};

Decoder::Decoder() = default;
Decoder::~Decoder() = default;

bool Decoder::open(std::string const& file)
{
    path = file;
    source = std::make_unique<Source>();
    Source& s = *source;
    // The order in which the library tries them, without its guess from the name.
    if (s.openWav(path)) {
        s.opened = true;
    } else if (s.openFile(path, ma_encoding_format_flac)) {
        s.opened = true;
        ma_decoder_get_length_in_pcm_frames(&s.decoder, &s.statedFrames);
    } else {
        s.opened = s.openMp3(path);
    }
    if (!s.opened)
        source.reset();
    return source != nullptr;
}

void Decoder::close()
{
    source.reset();
}

std::uint32_t Decoder::sampleRate() const
{
    return source->decoder.outputSampleRate;
}

bool Decoder::holdsMoreThan(std::uint64_t frames)
{
    ma_uint64 announced = 0;
    ma_decoder_get_length_in_pcm_frames(&source->decoder, &announced);
    if (announced <= frames)
        return false;
    // Whether the frame after `frames` can be read, by another decoder so this one still starts at 0.
    Decoder probe;
    float sample = 0.0f;
    return probe.open(path) && ma_decoder_seek_to_pcm_frame(&probe.source->decoder, frames) == MA_SUCCESS &&
           probe.read(&sample, 1) == 1;
}

bool Decoder::endedShort(std::uint64_t decoded) const
{
    return decoded < source->statedFrames;
}

std::uint64_t Decoder::read(float* samples, std::uint64_t frames)
{
    if (source->eightBit)
        return source->readEightBit(samples, frames);
    ma_uint64 done = 0;
    ma_decoder_read_pcm_frames(&source->decoder, samples, frames, &done);
    return done;
}
