// Render time of a 60 s, 48 kHz file through the pass-through module, against a loop that only decodes
// and encodes the same file with the same library (what the render can't beat).
#include "host/render.h"
#include "program.h"
#include "render_files.h"

#include <gtest/gtest.h>
#include <miniaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

double medianMs(std::function<void()> const& work)
{
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        auto const start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void decodeAndEncode(std::string const& in, std::string const& out)
{
    ma_decoder_config const decoderConfig = ma_decoder_config_init(ma_format_f32, 1, 0);
    ma_decoder decoder;
    ma_decoder_init_file(in.c_str(), &decoderConfig, &decoder);
    ma_encoder_config const encoderConfig =
        ma_encoder_config_init(ma_encoding_format_wav, ma_format_f32, 2, decoder.outputSampleRate);
    ma_encoder encoder;
    ma_encoder_init_file(out.c_str(), &encoderConfig, &encoder);
    float mono[128];
    float stereo[256];
    for (;;) {
        ma_uint64 read = 0;
        ma_decoder_read_pcm_frames(&decoder, mono, 128, &read);
        if (read == 0)
            break;
        for (ma_uint64 i = 0; i < read; ++i)
            stereo[2 * i] = stereo[2 * i + 1] = mono[i];
        ma_encoder_write_pcm_frames(&encoder, stereo, read, nullptr);
    }
    ma_encoder_uninit(&encoder);
    ma_decoder_uninit(&decoder);
}

}  // namespace

int main()
{
    TempDir dir;
    std::string const in = dir.file("in.wav");
    std::string const out = dir.file("out.wav");
    writeFloatWav(in, 48000, 1, tone(48000, 48000 * 60, 0.5f));
    std::string description = descriptionOf(RACKHOST_TEST_MODULES "/passthrough.vst3");
    std::string program = "rackhost", mode = "--render";
    std::vector<char*> argv{program.data(), mode.data(), description.data(), const_cast<char*>(in.c_str()),
                            const_cast<char*>(out.c_str()), nullptr};

    int const stdoutCopy = dup(1);
    std::freopen("/dev/null", "w", stdout);
    double const rendering = medianMs([&] { render(5, argv.data()); });
    double const copying = medianMs([&] { decodeAndEncode(in, out); });
    std::fflush(stdout);
    dup2(stdoutCopy, 1);
    std::fprintf(stderr, "60 s at 48 kHz: render %.1f ms, decode+encode only %.1f ms, ratio %.2f\n", rendering,
                 copying, rendering / copying);
}
