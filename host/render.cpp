// "--render": one plug-in offline over an audio file into a 32-bit float stereo WAV file, with optional
// state files and a JSON summary line. The plug-in runs inside a one-slot Rack driven by this thread.
#include "host/render.h"

#include "audio/rack.h"
#include "host/decoder.h"
#include "host/protocol.h"
#include "host/render_files.h"
#include "host/wav_writer.h"

#include <algorithm>
#include <csignal>
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

int cantWrite(std::string const& path, std::string const& reason)
{
    return fail("Couldn't write " + path + ": " + reason + "\n", 1);
}

int cantRead(std::string const& path)
{
    return fail("Couldn't read " + path + "\n", 1);
}

int tooLongFor(std::string const& path)
{
    return cantWrite(path, "a WAV file holds at most " + std::to_string(WavWriter::maxFrames) + " frames");
}

// A file grown past the limit on file size (ulimit -f) fails its write with EFBIG, reported as any
// failed write, where SIGXFSZ would end the process and leave the unfinished output behind.
struct FileSizeLimitFailsWrites {
    void (*const before)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ~FileSizeLimitFailsWrites() { std::signal(SIGXFSZ, before); }
};

struct Peaks {
    float input = 0.0f;
    float output = 0.0f;
};

enum class Ending { complete, unwritable, tooLong };

// The block loop: allocates nothing.
Ending renderBlocks(Decoder& decoder, Rack& rack, WavWriter& output, std::uint64_t& frames, Peaks& peaks)
{
    float input[BLOCK];
    float left[BLOCK];
    float right[BLOCK];
    float interleaved[2 * BLOCK];
    for (;;) {
        int const n = static_cast<int>(decoder.read(input, BLOCK));
        if (n == 0)
            return Ending::complete;
        // An input may hold more than it announced.
        if (frames + static_cast<std::uint64_t>(n) > WavWriter::maxFrames)
            return Ending::tooLong;
        rack.run(input, left, right, n);
        Levels const levels = rack.takeLevels();
        peaks.input = std::max(peaks.input, levels.input);
        peaks.output = std::max(peaks.output, levels.output);
        for (int i = 0; i < n; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
        if (!output.write(interleaved, static_cast<std::uint64_t>(n)))
            return Ending::unwritable;
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
        return cantRead(inputPath);
    std::string const refusal = WavWriter::refusal(outputPath, inputPath);
    if (!refusal.empty())
        return cantWrite(outputPath, refusal);
    if (decoder.holdsMoreThan(WavWriter::maxFrames))
        return tooLongFor(outputPath);
    std::uint32_t const sampleRate = decoder.sampleRate();
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

    FileSizeLimitFailsWrites const sizeLimit;
    WavWriter output;
    if (!output.open(outputPath, sampleRate))
        return cantWrite(outputPath, output.reason());
    std::uint64_t frames = 0;
    Peaks peaks;
    Ending const ending = renderBlocks(decoder, rack, output, frames, peaks);
    if (ending == Ending::tooLong)
        return tooLongFor(outputPath);
    // Audio lost part way is no render: the unfinished output goes with the writer.
    if (ending == Ending::complete && decoder.endedShort(frames))
        return cantRead(inputPath);
    if (ending == Ending::unwritable || !output.finish())
        return cantWrite(outputPath, output.reason());
    decoder.close();

    std::string reason;
    if (!options.saveStateFile.empty() && !writeFile(options.saveStateFile, plugin->state(), reason))
        return cantWrite(options.saveStateFile, reason);

    send({{"frames", frames},
          {"inputPeak", peaks.input},
          {"outputPeak", peaks.output},
          {"plugin", plugin->name()},
          {"rate", rate}});

    rack.setSlots({});
    rack.collect(true);
    return 0;
}
