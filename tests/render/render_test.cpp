// "--render" over real audio files and real plug-in modules, as a user of the command line sees it.
#include "host/render.h"
#include "program.h"
#include "render_files.h"
#include "tests/support/heap_use.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

std::string const PASSTHROUGH = RACKHOST_TEST_MODULES "/passthrough.vst3";
std::string const ADELAY = SDK_EXAMPLE_MODULES "/adelay.vst3";
std::string const USAGE = "--render <plugin json> <in.wav> <out.wav> [--state <file>] [--save-state <file>]\n";

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

Outcome renderWith(std::vector<std::string> args)
{
    args.insert(args.begin(), {"rackhost", "--render"});
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    Outcome run;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.code = render(static_cast<int>(args.size()), argv.data());
    run.err = testing::internal::GetCapturedStderr();
    run.out = testing::internal::GetCapturedStdout();
    return run;
}

std::vector<unsigned char> contents(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool exists(std::string const& path)
{
    return std::ifstream(path).good();
}

// Whether a render's unfinished output file is in `folder`.
bool unfinishedIn(std::string const& folder)
{
    for (auto const& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".render-"))
            return true;
    return false;
}

// Run before a command, makes it run as a user whom permissions bind: root without its capabilities obeys
// them as everyone else does.
std::string unprivileged()
{
    return getuid() == 0 ? "setpriv --bounding-set=-all " : "";
}

class Render : public testing::Test {
protected:
    TempDir dir;
    std::string const in = dir.file("in.wav");
    std::string const out = dir.file("out.wav");
    std::string const passthrough = descriptionOf(PASSTHROUGH);

    void SetUp() override { writeFloatWav(in, 48000, 1, tone(48000, 300, 0.5f)); }
};

}  // namespace

TEST_F(Render, BadUsageIsRefusedWithCodeTwo)
{
    for (auto const& args : {std::vector<std::string>{}, {passthrough}, {passthrough, in}}) {
        Outcome const run = renderWith(args);
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.err, USAGE);
        EXPECT_EQ(run.out, "");
    }
    for (std::string const description : {"passthrough.json", "{\"format\":", "[1,2]", "5", "{\"uid\":null}"}) {
        Outcome const run = renderWith({description, in, out});
        EXPECT_EQ(run.code, 2) << description;
        EXPECT_EQ(run.err, "The plugin is JSON, as --scan prints it.\n") << description;
    }
    EXPECT_FALSE(exists(out));
}

TEST_F(Render, FailuresWhileRunningSayWhatFailedWithCodeOne)
{
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    std::string const missing = dir.file("missing.wav");
    std::string const noFolder = dir.file("no/such/folder/out.wav");
    std::string const at44100 = dir.file("44100.wav");
    writeFloatWav(at44100, 44100, 1, tone(44100, 300, 0.5f));
    std::vector<Case> const cases{
        {{passthrough, missing, out}, "Couldn't read " + missing + "\n"},
        {{passthrough, PASSTHROUGH, out}, "Couldn't read " + PASSTHROUGH + "\n"},
        {{"{\"format\":\"au\"}", in, out}, "This system can't load au plugins.\n"},
        {{"{}", in, out}, "This system can't load  plugins.\n"},
        {{passthrough, in, out, "--state", missing}, "Couldn't set the state from " + missing + "\n"},
        {{passthrough, in, out, "--state", in}, "Couldn't set the state from " + in + "\n"},
        {{descriptionOf(RACKHOST_TEST_MODULES "/picky-rate.vst3"), at44100, out}, "Couldn't prepare the plugin at 44100 Hz\n"},
        {{passthrough, in, noFolder}, "Couldn't write " + noFolder + ": No such file or directory\n"},
    };
    for (Case const& c : cases) {
        Outcome const run = renderWith(c.args);
        EXPECT_EQ(run.code, 1) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(exists(out)) << "the output is only opened once the plug-in is ready";
}

TEST_F(Render, AStateFileThatIsntARegularFileIsRefusedNotReadForEver)
{
    std::string const folder = dir.file("folder");
    std::filesystem::create_directory(folder);
    for (std::string const& state : {folder, std::string("/dev/zero")}) {
        Outcome const run = renderWith({passthrough, in, out, "--state", state});
        EXPECT_EQ(run.code, 1) << state;
        EXPECT_EQ(run.err, "Couldn't set the state from " + state + "\n");
    }
    EXPECT_FALSE(exists(out));
}

TEST_F(Render, AnInputThatIsntARegularFileIsRefusedNotReadForEver)
{
    Outcome const run = renderWith({passthrough, "/dev/zero", out});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "Couldn't read /dev/zero\n");
    EXPECT_FALSE(exists(out));
}

TEST_F(Render, TheOutputNeverDestroysTheInputNorDoesAFailedRenderTouchAnEarlierFile)
{
    std::string const link = dir.file("link.wav");
    std::string const hardLink = dir.file("hard-link.wav");
    std::filesystem::create_symlink(in, link);
    std::filesystem::create_hard_link(in, hardLink);
    std::vector<unsigned char> const recording = contents(in);
    for (std::string const& output : {in, link, hardLink}) {
        Outcome const run = renderWith({passthrough, in, output});
        EXPECT_EQ(run.code, 1) << output;
        EXPECT_EQ(run.err, "Couldn't write " + output + ": it is the input file\n");
        EXPECT_EQ(contents(in), recording);
    }

    // The file size limit fails the writes part way, without the signal that would end the process.
    writeFloatWav(out, 48000, 1, {0.25f});
    std::vector<unsigned char> const earlier = contents(out);
    writeFloatWav(in, 48000, 1, tone(48000, 48000, 0.5f));
    std::string const command = "ulimit -f 64; " RACKHOST_BINARY " --render '" + passthrough + "' " + in + " " + out;
    EXPECT_EQ(shell(command + " 2>&1; echo $?"), "Couldn't write " + out + ": File too large\n1\n");
    EXPECT_EQ(contents(out), earlier);
    for (auto const& entry : std::filesystem::directory_iterator(std::filesystem::path(out).parent_path()))
        EXPECT_TRUE(entry.path() == in || entry.path() == out || entry.path() == link || entry.path() == hardLink)
            << entry.path() << " was left behind";
}

TEST_F(Render, ARenderLongerThanAWavFileHoldsFailsBeforeItStarts)
{
    // 8-bit mono, one byte a frame: a sparse file of one frame more than a WAV file holds takes no room.
    std::uint32_t const frames = 536870908;
    std::string const longInput = dir.file("long.wav");
    std::ofstream(longInput, std::ios::binary) << pcmWavHeader(1, 8000, 8, frames);
    std::filesystem::resize_file(longInput, 44 + std::uintmax_t{frames});
    Outcome const run = renderWith({passthrough, longInput, out});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "Couldn't write " + out + ": a WAV file holds at most 536870907 frames\n");
    EXPECT_FALSE(exists(out));
}

TEST_F(Render, LostOutputIsAFailureNotASuccess)
{
    writeFloatWav(in, 48000, 1, tone(48000, 48000, 0.5f));
    Outcome const full = renderWith({passthrough, in, "/dev/full"});
    EXPECT_EQ(full.code, 1);
    EXPECT_EQ(full.err, "Couldn't write /dev/full: No space left on device\n");
    EXPECT_EQ(full.out, "");

    std::string const unwritableState = dir.file("no/folder/state.bin");
    Outcome const state = renderWith({passthrough, in, out, "--save-state", unwritableState});
    EXPECT_EQ(state.code, 1);
    EXPECT_EQ(state.err, "Couldn't write " + unwritableState + ": No such file or directory\n");
    Outcome const stateFull = renderWith({passthrough, in, out, "--save-state", "/dev/full"});
    EXPECT_EQ(stateFull.code, 1);
    EXPECT_EQ(stateFull.err, "Couldn't write /dev/full: No space left on device\n");
}

TEST_F(Render, PassThroughCopiesTheInputToBothChannelsAndSummarises)
{
    // 300 frames run as blocks of 128, 128 and 44; the peak, -0.1 in single precision, prints widened.
    std::vector<float> ramp(300);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = (static_cast<float>(i) - 150.0f) / 1500.0f;
    writeFloatWav(in, 48000, 1, ramp);
    Outcome const run = renderWith({passthrough, in, out});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "{\"frames\":300,\"inputPeak\":0.10000000149011612,\"outputPeak\":0.10000000149011612,"
                       "\"plugin\":\"Pass Through\",\"rate\":48000.0}\n");
    Audio const rendered = decodeFile(out);
    ASSERT_EQ(rendered.channels, 2u);
    ASSERT_EQ(rendered.frames(), 300u);
    for (std::size_t i = 0; i < ramp.size(); ++i) {
        ASSERT_EQ(rendered.samples[2 * i], ramp[i]) << i;
        ASSERT_EQ(rendered.samples[2 * i + 1], ramp[i]) << i;
    }
}

TEST_F(Render, APluginsNaNAndInfinityAreWrittenAsSilenceAndSummarisedAsNumbers)
{
    writeFloatWav(in, 48000, 1, std::vector<float>(300, 0.5f));
    Outcome const run = renderWith({descriptionOf(RACKHOST_TEST_MODULES "/non-finite.vst3"), in, out});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "{\"frames\":300,\"inputPeak\":0.5,\"outputPeak\":0.0,\"plugin\":\"Non Finite\","
                       "\"rate\":48000.0}\n");
    EXPECT_EQ(decodeFile(out).samples, std::vector<float>(600, 0.0f));
}

TEST_F(Render, EmptyInputGivesAnEmptyOutput)
{
    writeFloatWav(in, 48000, 1, {});
    Outcome const run = renderWith({passthrough, in, out});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "{\"frames\":0,\"inputPeak\":0.0,\"outputPeak\":0.0,\"plugin\":\"Pass Through\","
                       "\"rate\":48000.0}\n");
    EXPECT_EQ(decodeFile(out).frames(), 0u);
}

TEST_F(Render, ReadsWavFlacAndMp3AtTheirOwnRateAndWritesStereoFloat)
{
    for (int rate : {44100, 48000}) {
        std::string const source = dir.file("source.wav");
        writeFloatWav(source, static_cast<std::uint32_t>(rate), 1, tone(static_cast<std::uint32_t>(rate), 30000, 0.5f));
        for (std::string const format : {"-b 16 in.wav", "-b 24 in.wav", "-c 2 in.wav", "in.flac", "-C 192 in.mp3"}) {
            std::string const name = format.substr(format.rfind(' ') + 1);
            std::string const converted = dir.file(name);
            shell("sox -V1 " + source + " " + format.substr(0, format.rfind(' ') + 1) + converted);
            Outcome const run = renderWith({passthrough, converted, out});
            ASSERT_EQ(run.code, 0) << format << run.err;
            Audio const decoded = decodeFile(converted, true);
            Audio const rendered = decodeFile(out);
            EXPECT_EQ(rendered.rate, static_cast<std::uint32_t>(rate)) << format;
            EXPECT_EQ(rendered.frames(), decoded.frames()) << format;
            EXPECT_NE(run.out.find("\"frames\":" + std::to_string(decoded.frames()) + ","), std::string::npos) << run.out;
            EXPECT_EQ(shell("for field in t r c b e s; do soxi -$field " + out + "; done 2>/dev/null"),
                      "wav\n" + std::to_string(rate) + "\n2\n32\nFloating Point PCM\n" +
                          std::to_string(decoded.frames()) + "\n")
                << format;
        }
    }
}

TEST_F(Render, TheSdkDelayDelaysByItsStateAndItsStateRoundTrips)
{
    std::string const adelay = descriptionOf(ADELAY);
    std::vector<float> const signal = tone(48000, 24000, 0.5f);
    writeFloatWav(in, 48000, 1, signal);

    // The plug-in's own state: a delay of 0.25 s, not bypassed, no controller chunk.
    std::vector<unsigned char> blob{'Q', 'R', 'S', 'B', 8, 0, 0, 0};
    float const delay = 0.25f;
    auto const* delayBytes = reinterpret_cast<unsigned char const*>(&delay);
    blob.insert(blob.end(), delayBytes, delayBytes + 4);
    blob.insert(blob.end(), {0, 0, 0, 0, 0, 0, 0, 0});
    std::string const state = dir.file("delay.state");
    std::ofstream(state, std::ios::binary).write(reinterpret_cast<char const*>(blob.data()), static_cast<long>(blob.size()));

    std::string const saved = dir.file("saved.state");
    Outcome const run = renderWith({adelay, in, out, "--state", state, "--save-state", saved});
    ASSERT_EQ(run.code, 0) << run.err;
    Audio const rendered = decodeFile(out);
    ASSERT_EQ(rendered.frames(), signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i) {
        float const expected = i < 12000 ? 0.0f : signal[i - 12000];
        ASSERT_EQ(rendered.samples[2 * i], expected) << i;
        ASSERT_EQ(rendered.samples[2 * i + 1], expected) << i;
    }

    std::string const savedAgain = dir.file("saved-again.state");
    ASSERT_EQ(renderWith({adelay, in, out, "--state", saved, "--save-state", savedAgain}).code, 0);
    std::vector<unsigned char> const savedBlob = contents(saved);
    EXPECT_EQ(contents(savedAgain), savedBlob);
    ASSERT_GE(savedBlob.size(), 12u);
    EXPECT_EQ(std::vector<unsigned char>(savedBlob.begin() + 8, savedBlob.begin() + 12),
              std::vector<unsigned char>(delayBytes, delayBytes + 4));
}

TEST_F(Render, OptionPairsAreReadByPosition)
{
    std::string const saved = dir.file("saved.state");
    ASSERT_EQ(renderWith({passthrough, in, out, "--save-state", saved}).code, 0);
    std::string const missing = dir.file("missing.state");

    EXPECT_EQ(renderWith({passthrough, in, out, "--state"}).code, 0) << "a trailing name without value";
    EXPECT_EQ(renderWith({passthrough, in, out, "--other", missing}).code, 0) << "an unknown option and its value";
    EXPECT_EQ(renderWith({passthrough, in, out, "--state", ""}).code, 0) << "an empty value";
    EXPECT_EQ(renderWith({passthrough, in, out, "--State", missing}).code, 0) << "names are case-sensitive";
    EXPECT_EQ(renderWith({passthrough, in, out, "--state", missing, "--state", saved}).code, 0) << "the last counts";
    EXPECT_EQ(renderWith({passthrough, in, out, "--state", saved, "--state", missing}).code, 1);
    EXPECT_EQ(renderWith({passthrough, in, out, "x", "--state", missing}).code, 0) << "pairs start after the output";
}

TEST_F(Render, TheBlockLoopAllocatesNothing)
{
    // Called directly, not through renderWith: capturing the output allocates by its own rules.
    std::string program = "rackhost", mode = "--render", description = passthrough, input = in, output = out;
    char* argv[] = {program.data(), mode.data(), description.data(), input.data(), output.data(), nullptr};
    auto allocationsFor = [&](std::uint64_t frames) {
        writeFloatWav(in, 48000, 1, std::vector<float>(frames, 0.5f));
        std::size_t const before = heapUseOnThisThread().allocations;
        EXPECT_EQ(render(5, argv), 0);
        return heapUseOnThisThread().allocations - before;
    };
    allocationsFor(100000);
    std::size_t const shortRun = allocationsFor(100000);
    std::size_t const longRun = allocationsFor(900000);
    EXPECT_GT(shortRun, 0u) << "the counter counts";
    // Loading and the libraries' set-up vary by a few allocations from run to run; one allocation per
    // block would add 6250.
    EXPECT_LT(longRun, shortRun + 16);
}

TEST_F(Render, TheProgramDispatchesToTheRender)
{
    EXPECT_EQ(shell(std::string(RACKHOST_BINARY) + " --render " + PASSTHROUGH + " 2>&1; echo $?"), USAGE + "2\n");
    writeFloatWav(in, 48000, 1, {0.5f, -0.25f});
    std::string const quoted = "'" + passthrough + "'";
    EXPECT_EQ(shell(std::string(RACKHOST_BINARY) + " --render " + quoted + " " + in + " " + out + " 2>&1"),
              "{\"frames\":2,\"inputPeak\":0.5,\"outputPeak\":0.5,\"plugin\":\"Pass Through\",\"rate\":48000.0}\n");
}

TEST_F(Render, AWavWrittenThroughAPipeRendersEveryFrameItHolds)
{
    // A writer that can't go back to fix the header leaves a placeholder size, far more than the file holds.
    std::string const samples{0x00, 0x40, 0x00, static_cast<char>(0xE0), 0x00, 0x10};
    for (std::uint32_t placeholder : {0x7FFFF000u, 0x7FFFFFFFu}) {
        std::ofstream(in, std::ios::binary) << pcmWavHeader(1, 48000, 16, placeholder) << samples;
        Outcome const run = renderWith({passthrough, in, out});
        ASSERT_EQ(run.code, 0) << placeholder << run.err;
        EXPECT_EQ(run.out, "{\"frames\":3,\"inputPeak\":0.5,\"outputPeak\":0.5,\"plugin\":\"Pass Through\","
                           "\"rate\":48000.0}\n");
    }
}

TEST_F(Render, AWavWhoseLastChunkSaysZeroBytesRendersTheWholeFramesAfterIt)
{
    // What a writer on a pipe leaves: it can't go back to fill in the size. 500 stereo 16-bit frames.
    std::string samples;
    for (std::uint32_t i = 0; i < 1000; ++i)
        samples += littleEndian(i * 97, 2);
    std::string const proper = dir.file("proper.wav"), unsized = dir.file("unsized.wav");
    std::ofstream(proper, std::ios::binary) << pcmWavHeader(2, 44100, 16, 2000) << samples;
    std::ofstream(unsized, std::ios::binary) << pcmWavHeader(2, 44100, 16, 0) << samples << "abc";
    ASSERT_EQ(renderWith({passthrough, proper, out}).code, 0);
    std::vector<unsigned char> const rendered = contents(out);
    Outcome const run = renderWith({passthrough, unsized, out});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out.find("{\"frames\":500,"), 0u) << run.out;
    EXPECT_EQ(contents(out), rendered);

    // Nothing after it, or another chunk after it: no samples.
    for (std::string const& after : {std::string(), "LIST" + littleEndian(4, 4) + "INFO"}) {
        std::ofstream(unsized, std::ios::binary) << pcmWavHeader(2, 44100, 16, 0) << after;
        Outcome const empty = renderWith({passthrough, unsized, out});
        EXPECT_EQ(empty.code, 0) << after << empty.err;
        EXPECT_EQ(empty.out.find("{\"frames\":0,"), 0u) << after << empty.out;
    }
}

TEST_F(Render, AFlacDecodedShortOfItsTotalFailsWhereAGuessedLengthRendersWhatIsThere)
{
    writeFloatWav(in, 48000, 1, tone(48000, 24000, 0.5f));
    std::string const flac32 = dir.file("32.flac"), damaged = dir.file("damaged.flac");
    std::string const streamed = dir.file("streamed.flac"), cut = dir.file("cut.wav");
    shell("sox -V1 " + in + " -b 32 -e signed " + dir.file("32.wav") + " && flac -s " + dir.file("32.wav") + " -o " + flac32);
    shell("sox -V1 " + in + " -b 16 " + cut + " && flac -s " + cut + " -o " + damaged);
    // Through a pipe the encoder can't go back to write the total.
    shell("sox -V1 " + in + " -b 16 -t raw - | flac -s --force-raw-format --endian=little --sign=signed --channels=1 "
          "--bps=16 --sample-rate=48000 -c - > " + streamed);
    std::vector<unsigned char> bytes = contents(damaged);
    bytes[bytes.size() / 2] ^= 0xFF;
    std::ofstream(damaged, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), static_cast<long>(bytes.size()));
    std::filesystem::resize_file(cut, 44 + 2 * 10000);

    writeFloatWav(out, 48000, 1, {0.25f});
    std::vector<unsigned char> const earlier = contents(out);
    for (std::string const& input : {flac32, damaged}) {
        Outcome const run = renderWith({passthrough, input, out});
        EXPECT_EQ(run.code, 1) << input;
        EXPECT_EQ(run.err, "Couldn't read " + input + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(contents(out), earlier);
        EXPECT_FALSE(unfinishedIn(dir.file("")));
    }
    for (auto const& [input, frames] : {std::pair{streamed, 24000}, std::pair{cut, 10000}}) {
        Outcome const run = renderWith({passthrough, input, out});
        EXPECT_EQ(run.code, 0) << input << run.err;
        EXPECT_EQ(run.out.find("{\"frames\":" + std::to_string(frames) + ","), 0u) << input << run.out;
    }
}

TEST_F(Render, TagsAfterAnMp3sLastFrameLoseNoAudio)
{
    std::string const source = dir.file("source.wav"), plain = dir.file("plain.mp3");
    std::string const id3v1 = dir.file("id3v1.mp3"), ape = dir.file("ape.mp3");
    writeFloatWav(in, 48000, 1, tone(48000, 24000, 0.5f));
    shell("sox -V1 " + in + " -b 16 " + source + " && lame --quiet -b 128 " + source + " " + plain +
          " && lame --quiet -b 128 --id3v1-only --tt title " + source + " " + id3v1);
    // An APEv2 tag with header and footer, then an ID3v1 tag.
    std::string const item = littleEndian(5, 4) + littleEndian(0, 4) + std::string("Title\0hello", 11);
    auto const apeBlock = [&](std::uint32_t flags) {
        return "APETAGEX" + littleEndian(2000, 4) + littleEndian(static_cast<std::uint32_t>(item.size()) + 32, 4) +
               littleEndian(1, 4) + littleEndian(flags, 4) + std::string(8, '\0');
    };
    std::filesystem::copy_file(plain, ape);
    std::ofstream(ape, std::ios::binary | std::ios::app)
        << apeBlock(0xA0000000) << item << apeBlock(0x80000000) << "TAG" << std::string(125, ' ');

    ASSERT_EQ(renderWith({passthrough, plain, out}).code, 0);
    std::vector<float> const untagged = decodeFile(out).samples;
    for (std::string const& tagged : {id3v1, ape}) {
        ASSERT_EQ(renderWith({passthrough, tagged, out}).code, 0) << tagged;
        EXPECT_EQ(decodeFile(out).samples, untagged) << tagged;
    }
}

TEST_F(Render, EightBitPcmIsCentredOn128)
{
    std::string const mono{static_cast<char>(0x80), 0x00, static_cast<char>(0xFF), 0x40};
    std::ofstream(in, std::ios::binary) << pcmWavHeader(1, 8000, 8, 4) << mono;
    std::vector<float> const expected{0.0f, -1.0f, 127.0f / 128.0f, -0.5f};
    std::string const aiff = dir.file("in.aiff"), stereo = dir.file("stereo.wav");
    shell("sox -V1 " + in + " " + aiff);
    for (std::string const& input : {in, aiff}) {
        ASSERT_EQ(renderWith({passthrough, input, out}).code, 0) << input;
        Audio const rendered = decodeFile(out);
        ASSERT_EQ(rendered.frames(), expected.size()) << input;
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(rendered.samples[2 * i], expected[i]) << input << " " << i;
    }
    // Channels are averaged; silence is silent.
    std::ofstream(stereo, std::ios::binary)
        << pcmWavHeader(2, 8000, 8, 4) << std::string{0x00, static_cast<char>(0xFF), static_cast<char>(0x80), static_cast<char>(0x80)};
    ASSERT_EQ(renderWith({passthrough, stereo, out}).code, 0);
    EXPECT_EQ(decodeFile(out).samples, (std::vector<float>{-1.0f / 256, -1.0f / 256, 0.0f, 0.0f}));
    std::ofstream(in, std::ios::binary) << pcmWavHeader(1, 8000, 8, 3) << std::string(3, static_cast<char>(0x80));
    EXPECT_EQ(renderWith({passthrough, in, out}).out,
              "{\"frames\":3,\"inputPeak\":0.0,\"outputPeak\":0.0,\"plugin\":\"Pass Through\",\"rate\":8000.0}\n");
}

TEST_F(Render, ARenderLeavesNothingBehindAndWritesOnlyWhereItIsAsked)
{
    // A stopped render takes its unfinished file with it and still ends as killed. About ten minutes of
    // 8-bit mono, sparse: it takes no room.
    std::uint32_t const frames = 30000000;
    std::string const longInput = dir.file("long.wav");
    std::ofstream(longInput, std::ios::binary) << pcmWavHeader(1, 48000, 8, frames);
    std::filesystem::resize_file(longInput, 44 + std::uintmax_t{frames});
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A shell's background job ignores SIGINT, and the program would inherit that.
        std::signal(signal, SIG_DFL);
        Program running({"--render", passthrough, longInput, out});
        auto const start = std::chrono::steady_clock::now();
        while (!unfinishedIn(dir.file("")) && std::chrono::steady_clock::now() - start < replyTimeout)
            std::this_thread::sleep_for(1ms);
        kill(running.processId(), signal);
        EXPECT_EQ(running.exitCode(), 128 + signal);
        EXPECT_FALSE(unfinishedIn(dir.file(""))) << signal;
    }

    // Standard output and standard error carry the summary and the messages, never the audio.
    std::string const command = RACKHOST_BINARY " --render '" + passthrough + "' " + in + " ";
    std::string const why = ": standard output and standard error carry the summary and the messages\n";
    EXPECT_EQ(shell(command + "/dev/stdout 2>&1 >" + out + "; echo $?"), "Couldn't write /dev/stdout" + why + "1\n");
    EXPECT_EQ(std::filesystem::file_size(out), 0u);
    EXPECT_EQ(shell(command + out + " 2>&1 >" + out + "; echo $?"), "Couldn't write " + out + why + "1\n");

    // A file of one's own in a folder one may not write to is written in place; no new file is made there.
    std::string const shared = dir.file("shared");
    std::filesystem::create_directory(shared);
    writeFloatWav(shared + "/out.wav", 48000, 1, {0.25f});
    std::filesystem::permissions(shared, std::filesystem::perms(0555));
    std::string const asUser = unprivileged();
    EXPECT_EQ(shell(asUser + command + shared + "/out.wav >/dev/null; echo $?"), "0\n");
    EXPECT_EQ(decodeFile(shared + "/out.wav").frames(), 300u);
    EXPECT_EQ(shell(asUser + command + shared + "/new.wav 2>&1; echo $?"),
              "Couldn't write " + shared + "/new.wav: Permission denied\n1\n");
    std::filesystem::permissions(shared, std::filesystem::perms(0755));
}

TEST_F(Render, AnOutputOneMayNotWriteIsRefusedAndKeptAsItWas)
{
    // An earlier take protected with chmod a-w, in a folder one may write to.
    std::string const take = dir.file("take1.wav");
    writeFloatWav(take, 48000, 1, {0.25f});
    std::vector<unsigned char> const earlier = contents(take);
    std::filesystem::permissions(take, std::filesystem::perms(0444));
    std::string const command = RACKHOST_BINARY " --render '" + passthrough + "' " + in + " " + take;
    EXPECT_EQ(shell(unprivileged() + command + " 2>&1; echo $?"), "Couldn't write " + take + ": Permission denied\n1\n");
    EXPECT_EQ(contents(take), earlier);
    EXPECT_FALSE(unfinishedIn(dir.file("")));
    if (getuid() == 0) {
        EXPECT_EQ(renderWith({passthrough, in, take}).code, 0) << "root may write anything";
        EXPECT_EQ(decodeFile(take).frames(), 300u);
    }
}

TEST_F(Render, TheUnfinishedFileIsGuardedBeforeItExists)
{
    // A signal may reach any thread, a plug-in's too, at any moment; the order of the system calls shows
    // that none finds the file unguarded, where a race would show it only by chance. A leak check can't
    // run under a tracer.
    if (shell("strace -qq -o /dev/null true 2>/dev/null && echo traced") != "traced\n")
        GTEST_SKIP() << "strace can't trace programs here.";
    std::string const trace = dir.file("trace");
    shell("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o " + trace + " -e trace=rt_sigaction,openat " RACKHOST_BINARY
          " --render '" + passthrough + "' " + in + " " + out + " >/dev/null");
    std::vector<unsigned char> const bytes = contents(trace);
    std::string const calls(bytes.begin(), bytes.end());
    std::size_t const created = calls.find(dir.file(".render-"));
    ASSERT_NE(created, std::string::npos) << calls;
    for (std::string const signal : {"SIGINT", "SIGTERM", "SIGHUP"})
        EXPECT_LT(calls.find("rt_sigaction(" + signal + ", {sa_handler=0x"), created) << signal;
}
