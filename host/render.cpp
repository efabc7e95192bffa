// "--render": one plug-in offline over an audio file into a 32-bit float stereo WAV file, with optional
// state files and a JSON summary line. The plug-in runs inside a one-slot Rack driven by this thread.
#include "host/render.h"

#include "audio/rack.h"
#include "host/protocol.h"
#include "host/render_files.h"

#include <miniaudio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int BLOCK = 128;

struct Options {
    std::string stateFile;
    std::string saveStateFile;
};

// Name/value pairs after the output file; unknown names are skipped with their value, an unpaired
// last argument is ignored, the last of a repeated option counts and an empty value means "not given".
Options readOptions(int argc, char** argv)
{
    Options options;
    for (int i = 5; i + 1 < argc; i += 2) {
        std::string const name = argv[i];
        if (name == "--state")
            options.stateFile = argv[i + 1];
        else if (name == "--save-state")
            options.saveStateFile = argv[i + 1];
    }
    return options;
}

class Decoder {
public:
    bool open(std::string const& path)
    {
        ma_decoder_config const config = ma_decoder_config_init(ma_format_f32, 1, 0);
        opened = ma_decoder_init_file(path.c_str(), &config, &decoder) == MA_SUCCESS;
        return opened;
    }
    ~Decoder() { close(); }
    void close()
    {
        if (opened)
            ma_decoder_uninit(&decoder);
        opened = false;
    }
    ma_uint32 sampleRate() const { return decoder.outputSampleRate; }
    // Fewer frames than asked only at the end of the input (or on a read error).
    ma_uint64 read(float* samples, ma_uint64 frames)
    {
        ma_uint64 done = 0;
        ma_decoder_read_pcm_frames(&decoder, samples, frames, &done);
        return done;
    }

private:
    ma_decoder decoder{};
    bool opened = false;
};

// A WAV encoder over a file of our own, so that every failed write, the header's included, is noticed.
class WavWriter {
public:
    bool open(std::string const& path, ma_uint32 sampleRate)
    {
        file = std::fopen(path.c_str(), "wb");
        if (!file)
            return false;
        ma_encoder_config const config = ma_encoder_config_init(ma_encoding_format_wav, ma_format_f32, 2, sampleRate);
        encoding = ma_encoder_init(onWrite, onSeek, this, &config, &encoder) == MA_SUCCESS;
        return encoding && !failed;
    }
    ~WavWriter() { close(); }
    bool write(float const* interleaved, ma_uint64 frames)
    {
        ma_uint64 done = 0;
        if (ma_encoder_write_pcm_frames(&encoder, interleaved, frames, &done) != MA_SUCCESS || done != frames)
            failed = true;
        return !failed;
    }
    // Finishes the header and the file; false when anything could not be written.
    bool close()
    {
        if (encoding)
            ma_encoder_uninit(&encoder);
        encoding = false;
        if (file && std::fclose(file) != 0)
            failed = true;
        file = nullptr;
        return !failed;
    }

private:
    static ma_result onWrite(ma_encoder* encoder, void const* bytes, size_t count, size_t* written)
    {
        auto* self = static_cast<WavWriter*>(encoder->pUserData);
        *written = std::fwrite(bytes, 1, count, self->file);
        if (*written != count)
            self->failed = true;
        return self->failed ? MA_IO_ERROR : MA_SUCCESS;
    }
    static ma_result onSeek(ma_encoder* encoder, ma_int64 offset, ma_seek_origin origin)
    {
        auto* self = static_cast<WavWriter*>(encoder->pUserData);
        int const whence = origin == ma_seek_origin_start ? SEEK_SET : origin == ma_seek_origin_end ? SEEK_END : SEEK_CUR;
        if (std::fseek(self->file, static_cast<long>(offset), whence) != 0)
            self->failed = true;
        return self->failed ? MA_IO_ERROR : MA_SUCCESS;
    }

    std::FILE* file = nullptr;
    ma_encoder encoder{};
    bool encoding = false;
    bool failed = false;
};

// Writes the message for a person and gives the exit code back.
int fail(std::string const& message, int code)
{
    std::fputs(message.c_str(), stderr);
    return code;
}

int badDescription()
{
    return fail("The plugin is JSON, as --scan prints it.\n", 2);
}

struct Peaks {
    float input = 0.0f;
    float output = 0.0f;
};

// The block loop: allocates nothing. False when the output could not be written.
bool renderBlocks(Decoder& decoder, Rack& rack, WavWriter& output, std::uint64_t& frames, Peaks& peaks)
{
    float input[BLOCK];
    float left[BLOCK];
    float right[BLOCK];
    float interleaved[2 * BLOCK];
    for (;;) {
        int const n = static_cast<int>(decoder.read(input, BLOCK));
        if (n == 0)
            return true;
        rack.run(input, left, right, n);
        Levels const levels = rack.takeLevels();
        peaks.input = std::max(peaks.input, levels.input);
        peaks.output = std::max(peaks.output, levels.output);
        for (int i = 0; i < n; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
        if (!output.write(interleaved, static_cast<ma_uint64>(n)))
            return false;
        frames += static_cast<std::uint64_t>(n);
    }
}

}  // namespace

int render(int argc, char** argv)
{
    if (argc < 5)
        return fail("--render <plugin json> <in.wav> <out.wav> [--state <file>] [--save-state <file>]\n", 2);
    std::string const inputPath = argv[3];
    std::string const outputPath = argv[4];

    nlohmann::json const description = nlohmann::json::parse(argv[2], nullptr, false, false);
    // A description that is JSON but not a description (not an object, or a member that isn't text) is bad
    // usage too; letting the library's exception escape would abort the process.
    if (description.is_discarded() || !description.is_object())
        return badDescription();
    PluginRef ref;
    try {
        ref = refFrom(description);
    } catch (nlohmann::json::exception const&) {
        return badDescription();
    }
    Options const options = readOptions(argc, argv);

    Decoder decoder;
    // An input that isn't a regular file may never end: the MP3 probe searches endless zeros for a frame.
    if (!isRegularFile(inputPath) || !decoder.open(inputPath))
        return fail("Couldn't read " + inputPath + "\n", 1);
    ma_uint32 const sampleRate = decoder.sampleRate();
    double const rate = sampleRate;

    std::string error;
    std::shared_ptr<Plugin> plugin = loadPlugin(ref, error);
    if (!plugin)
        return fail(error + "\n", 1);
    if (!options.stateFile.empty()) {
        std::optional<std::vector<unsigned char>> const state = readRegularFile(options.stateFile);
        if (!state || !plugin->setState(*state))
            return fail("Couldn't set the state from " + options.stateFile + "\n", 1);
    }
    if (!plugin->prepare(rate, Rack::blockFrames)) {
        std::fprintf(stderr, "Couldn't prepare the plugin at %.0f Hz\n", rate);
        return 1;
    }

    Rack rack;
    rack.setSampleRate(rate);
    rack.setLevels(0.0f, -96.0f, 0.0f);
    rack.setSlots({Slot{"render", plugin, false}});

    WavWriter output;
    if (!output.open(outputPath, sampleRate))
        return fail("Couldn't write " + outputPath + "\n", 1);
    std::uint64_t frames = 0;
    Peaks peaks;
    bool const written = renderBlocks(decoder, rack, output, frames, peaks);
    if (!output.close() || !written)
        return fail("Couldn't write " + outputPath + "\n", 1);
    decoder.close();

    if (!options.saveStateFile.empty() && !writeFile(options.saveStateFile, plugin->state()))
        return fail("Couldn't write " + options.saveStateFile + "\n", 1);

    send({{"frames", frames},
          {"inputPeak", peaks.input},
          {"outputPeak", peaks.output},
          {"plugin", plugin->name()},
          {"rate", rate}});

    rack.setSlots({});
    rack.collect(true);
    return 0;
}
