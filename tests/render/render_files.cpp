// Audio files for the render tests.
#include "render_files.h"

#include <gtest/gtest.h>
#include <miniaudio.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

TempDir::TempDir()
{
    char pattern[] = "/tmp/rackhost-render-XXXXXX";
    path = mkdtemp(pattern);
}

TempDir::~TempDir()
{
    std::filesystem::remove_all(path);
}

void writeFloatWav(std::string const& path, std::uint32_t rate, std::uint32_t channels,
                   std::vector<float> const& samples)
{
    ma_encoder_config const config = ma_encoder_config_init(ma_encoding_format_wav, ma_format_f32, channels, rate);
    ma_encoder encoder;
    ASSERT_EQ(ma_encoder_init_file(path.c_str(), &config, &encoder), MA_SUCCESS) << path;
    ma_uint64 written = 0;
    ma_encoder_write_pcm_frames(&encoder, samples.data(), samples.size() / channels, &written);
    ma_encoder_uninit(&encoder);
    ASSERT_EQ(written, samples.size() / channels);
}

std::string littleEndian(std::uint32_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; ++i)
        text += static_cast<char>(value >> (8 * i));
    return text;
}

std::string pcmWavHeader(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint32_t dataBytes)
{
    auto const le = littleEndian;
    std::uint32_t const frameBytes = channels * bits / 8u;
    // A placeholder data size makes the RIFF size wrap, as it does in the files that carry one.
    return "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
           le(rate * frameBytes, 4) + le(frameBytes, 2) + le(bits, 2) + "data" + le(dataBytes, 4);
}

Audio decodeFile(std::string const& path, bool mono)
{
    Audio audio;
    ma_decoder_config const config = ma_decoder_config_init(ma_format_f32, mono ? 1 : 0, 0);
    ma_decoder decoder;
    if (ma_decoder_init_file(path.c_str(), &config, &decoder) != MA_SUCCESS) {
        ADD_FAILURE() << "can't decode " << path;
        return audio;
    }
    audio.rate = decoder.outputSampleRate;
    audio.channels = decoder.outputChannels;
    std::vector<float> block(4096 * audio.channels);
    for (;;) {
        ma_uint64 read = 0;
        ma_decoder_read_pcm_frames(&decoder, block.data(), 4096, &read);
        if (read == 0)
            break;
        audio.samples.insert(audio.samples.end(), block.begin(), block.begin() + static_cast<long>(read * audio.channels));
    }
    ma_decoder_uninit(&decoder);
    return audio;
}

std::string shell(std::string const& command)
{
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "can't run " << command;
        return output;
    }
    std::array<char, 256> chunk;
    while (std::fgets(chunk.data(), chunk.size(), pipe))
        output += chunk.data();
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

std::vector<float> tone(std::uint32_t rate, std::uint64_t frames, float amplitude)
{
    std::vector<float> samples(frames);
    for (std::uint64_t i = 0; i < frames; ++i)
        samples[i] = amplitude * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(i) / static_cast<float>(rate));
    return samples;
}
