// The engine: one full-duplex device opened by name, started and closed on the control thread,
// feeding the rack from the library's data callback and reporting a device that stops on its own or
// goes quiet.
#include "audio/engine_impl.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

std::string const stoppedSentence = "The audio device stopped (was it unplugged?).";

// A period lasts a few milliseconds and a server keeps a stream fed well within its buffer, so a second
// without one means the device is gone (while still short enough to tell the user promptly). A server
// can take a few seconds to start a new stream, so the first period may come later.
constexpr auto quietLimit = std::chrono::seconds(1);
constexpr auto firstPeriodLimit = std::chrono::seconds(5);

// How much output the host asks the sound server to hold. The library asks for one period, which a client
// reached over a socket can't keep fed: the server runs dry between two writes and plays silence. Below
// 24 ms a server without real-time scheduling still starves the stream now and then, each time shifting the
// delay; RACKHOST_OUTPUT_BUFFER_MS chooses more (up to 1000 ms) for a busy machine.
constexpr double shortestOutputBufferMs = 24.0;

double outputBufferMs()
{
    char const* text = std::getenv("RACKHOST_OUTPUT_BUFFER_MS");
    if (text == nullptr)
        return shortestOutputBufferMs;
    char* end = nullptr;
    double const ms = std::strtod(text, &end);
    bool const usable = end != text && *end == '\0' && ms >= shortestOutputBufferMs && ms <= 1000.0;
    return usable ? ms : shortestOutputBufferMs;
}

ma_device_config duplexConfig(Engine::Impl* impl, ma_device_info const* input, ma_device_info const* output)
{
    ma_device_config config = ma_device_config_init(ma_device_type_duplex);
    config.sampleRate = 0;
    config.periodSizeInFrames = 128;
    config.performanceProfile = ma_performance_profile_low_latency;
    config.dataCallback = Engine::Impl::callback;
    config.notificationCallback = Engine::Impl::notification;
    config.pUserData = impl;
    config.playback.pDeviceID = output ? &output->id : nullptr;
    config.playback.format = ma_format_f32;
    config.playback.channels = 2;
    config.playback.shareMode = ma_share_mode_shared;
    config.capture.pDeviceID = input ? &input->id : nullptr;
    config.capture.format = ma_format_f32;
    config.capture.channels = 0;
    config.capture.shareMode = ma_share_mode_shared;
    return config;
}

}  // namespace

#if defined(__SANITIZE_THREAD__)
#define RACKHOST_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RACKHOST_THREAD_SANITIZER 1
#endif
#endif

#ifdef RACKHOST_THREAD_SANITIZER
// The sound server's client library is loaded uninstrumented (directly, or by ALSA's pulse plug-in), so
// ThreadSanitizer can't see its own synchronisation. Its calls into the runtime are left unchecked;
// our code, the data callback included, is still checked when the library calls it.
extern "C" char const* __tsan_default_suppressions()
{
    return "called_from_lib:libpulsecommon\ncalled_from_lib:libpulse.so\n";
}
#endif

void Engine::Impl::close()
{
    if (!deviceOpen)
        return;
    closing = true;
    // Uninit alone never returns once the sound server has died; a stop first lets it finish at once.
    ma_device_stop(&device);
    ma_device_uninit(&device);
    deviceOpen = false;
    watching = false;
    closing = false;
}

// Audio thread: no lock, no allocation; one channel in, two out, extra output channels silent.
void Engine::Impl::callback(ma_device* device, void* output, void const* input, ma_uint32 frameCount)
{
    Impl& engine = *static_cast<Impl*>(device->pUserData);
    ++engine.periods;
    auto* out = static_cast<float*>(output);
    auto const* in = static_cast<float const*>(input);
    std::size_t const outChannels = device->playback.channels;

    for (ma_uint32 done = 0; done < frameCount;) {
        ma_uint32 const n = std::min(frameCount - done, chunkFrames);
        std::size_t const inChannels = static_cast<std::size_t>(engine.inputChannels);
        std::size_t const channel = static_cast<std::size_t>(
            std::clamp(engine.inputChannel.load(), 0, engine.inputChannels - 1));

        if (in == nullptr) {
            std::fill_n(engine.inputBuffer.begin(), n, 0.0f);
        } else {
            for (std::size_t k = 0; k < n; ++k)
                engine.inputBuffer[k] = in[(done + k) * inChannels + channel];
        }

        engine.rack->run(engine.inputBuffer.data(), engine.leftBuffer.data(), engine.rightBuffer.data(),
                         static_cast<int>(n));

        for (std::size_t k = 0; k < n; ++k) {
            float* frame = out + (done + k) * outChannels;
            frame[0] = engine.leftBuffer[k];
            if (outChannels > 1)
                frame[1] = engine.rightBuffer[k];
            std::fill(frame + std::min<std::size_t>(outChannels, 2), frame + outChannels, 0.0f);
        }
        done += n;
    }
}

void Engine::Impl::notification(ma_device_notification const* notification)
{
    if (notification->type != ma_device_notification_type_stopped)
        return;
    // A device that hasn't started can't stop. The notices its streams received while it sat open and idle
    // (a sink suspended meanwhile) wait until the start, which dispatches them while the library still
    // counts the device as starting.
    if (ma_device_get_state(notification->pDevice) != ma_device_state_started)
        return;
    Impl& engine = *static_cast<Impl*>(notification->pDevice->pUserData);
    if (!engine.closing)
        engine.stoppedOpening = engine.opening.load();
}

Engine::Engine(Rack& rack) : impl(std::make_unique<Impl>())
{
    impl->rack = &rack;
    impl->openContext();
}

Engine::~Engine()
{
    impl->close();
    impl->closeContext();
}

bool Engine::open(std::string const& input, int channel, std::string const& output, bool& changed,
                  std::string& error)
{
    Impl& engine = *impl;
    engine.inputChannel = channel;
    changed = false;
    if (engine.deviceOpen && input == engine.inputName && output == engine.outputName)
        return true;

    engine.close();
    changed = true;
    ++engine.opening;
    ma_device_info const* inputInfo = nullptr;
    ma_device_info const* outputInfo = nullptr;
    if (!engine.withLiveContext([&] { return engine.lookUp(input, output, inputInfo, outputInfo, error); }))
        return false;

    ma_device_config const config = duplexConfig(&engine, inputInfo, outputInfo);
    if (!openDevice(engine.audioContext, config, engine.device)) {
        error = "Couldn't open the audio devices. Another app may be using them.";
        return false;
    }
    engine.deviceOpen = true;
    if (engine.audioContext.backend == ma_backend_pulseaudio) {
        setPulseBuffers(engine.device,
                        static_cast<ma_uint32>(outputBufferMs() * engine.device.playback.internalSampleRate / 1000.0),
                        engine.duplexRing);
    }
    engine.inputChannels = std::max(1, static_cast<int>(engine.device.capture.channels));
    engine.inputName = input;
    engine.outputName = output;
    engine.rack->setSampleRate(engine.device.sampleRate);
    return true;
}

bool Engine::play(std::string& error)
{
    if (!impl->deviceOpen) {
        error = "The audio devices aren't open.";
        return false;
    }
    if (ma_device_get_state(&impl->device) == ma_device_state_started)
        return true;
    if (ma_device_start(&impl->device) != MA_SUCCESS) {
        error = "Couldn't start the audio devices.";
        return false;
    }
    impl->watching = true;
    impl->delivered = false;
    impl->periodsSeen = impl->periods;
    impl->seenAt = Clock::now();
    return true;
}

void Engine::stop()
{
    impl->close();
}

bool Engine::running() const
{
    return impl->deviceOpen;
}

std::uint64_t Engine::opening() const
{
    return impl->opening;
}

double Engine::sampleRate() const
{
    return impl->deviceOpen ? static_cast<double>(impl->device.sampleRate) : 0.0;
}

void Engine::watch()
{
    Impl& engine = *impl;
    if (std::uint64_t const stopped = engine.stoppedOpening.exchange(0); stopped != 0) {
        if (stopped == engine.opening)
            engine.watching = false;
        if (onStopped)
            onStopped(stoppedSentence, stopped);
        return;
    }
    if (!engine.watching)
        return;
    Clock::time_point const now = Clock::now();
    std::uint64_t const periods = engine.periods;
    if (periods != engine.periodsSeen) {
        engine.periodsSeen = periods;
        engine.seenAt = now;
        engine.delivered = true;
        return;
    }
    if (now - engine.seenAt < (engine.delivered ? quietLimit : firstPeriodLimit))
        return;
    engine.watching = false;
    engine.lostOnContext = true;
    if (onStopped)
        onStopped(stoppedSentence, engine.opening);
}
