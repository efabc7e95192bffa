// The engine's private state with the audio library's two callbacks, and the device-name lookup.
// Shared by the engine's own source files and its tests; the rest of the system sees engine.h only.
#pragma once

#include "audio/engine.h"

#include <miniaudio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Engine::Impl {
    // Largest number of frames the data callback hands the rack at once; longer callbacks are split.
    static constexpr ma_uint32 chunkFrames = 8192;

    Rack* rack = nullptr;
    ma_context audioContext{};
    bool contextReady = false;
    ma_device device{};
    bool deviceOpen = false;
    // Set while the engine closes the device itself, so the library's stop notice isn't passed on.
    std::atomic<bool> closing{false};
    std::string inputName;
    std::string outputName;
    // Raised on the control thread, read by the notification callback to say which opening stopped.
    std::atomic<std::uint64_t> opening{0};
    // The opening of a device that stopped on its own, 0 for none: marked by the notification callback,
    // taken by `watch` on the control thread, which reports it.
    std::atomic<std::uint64_t> stoppedOpening{0};
    std::atomic<int> inputChannel{0};
    int inputChannels = 1;
    std::vector<float> inputBuffer = std::vector<float>(chunkFrames);
    std::vector<float> leftBuffer = std::vector<float>(chunkFrames);
    std::vector<float> rightBuffer = std::vector<float>(chunkFrames);
    // The memory of the ring between capture and playback on PulseAudio; belongs to the open device.
    std::vector<float> duplexRing;
    // Data callbacks run so far; `watch` reads it on the control thread to tell a device that went quiet.
    std::atomic<std::uint64_t> periods{0};
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
                  "the library's callbacks count and mark without a lock");
    // Control thread: whether the started device is watched, whether it delivered a period yet, and the
    // count `watch` last saw with the time it saw it change.
    bool watching = false;
    bool delivered = false;
    std::uint64_t periodsSeen = 0;
    std::chrono::steady_clock::time_point seenAt{};
    // A device went quiet on this context: its server may have died, taking the context with it.
    bool lostOnContext = false;

    // Control thread: closes the device if one is open; never reports it as stopped.
    void close();
    // Control thread: the library's context in its default backend order, and its end.
    void openContext();
    void closeContext();
    void renewContext();
    // Control thread: runs `attempt` (true when it succeeded). While no device is open, a context that may
    // be stale (not ready, on a fallback backend, or one a device went quiet on) is replaced first, and one
    // that wasn't replaced is replaced once `attempt` fails, to try once more: so a sound server that came
    // back is found, and a healthy context costs nothing.
    bool withLiveContext(std::function<bool()> const& attempt);
    // Control thread: the matched capture and playback entries of the current context, null for an empty
    // name (the default device); on false `error` holds the sentence.
    bool lookUp(std::string const& input, std::string const& output, ma_device_info const*& inputInfo,
                ma_device_info const*& outputInfo, std::string& error);
    // Control thread: the current context's devices; empty when it can't list them.
    DeviceLists list();
    // Audio thread: the device's data callback. Takes no lock, allocates and frees nothing.
    static void callback(ma_device* device, void* output, void const* input, ma_uint32 frameCount);
    // A thread of the library (the audio thread, when a sink is suspended): marks a started device that
    // stopped on its own for `watch`. Takes no lock, allocates and frees nothing.
    static void notification(ma_device_notification const* notification);
};

// Control thread: `device` opened on `context` with `config`. False when the library can't open it; then
// nothing of the attempt is left open.
bool openDevice(ma_context& context, ma_device_config const& config, ma_device& device);

// Control thread, before the device starts: asks the sound server to hold `playbackFrames` of the device's
// output (its PulseAudio playback stream's target length) and to keep capture that the host hasn't taken yet,
// and couples the two streams by a ring in `ring` that holds the largest chunk either side moves at once.
// Where the server can't be asked, the streams keep the library's own buffering.
void setPulseBuffers(ma_device& device, ma_uint32 playbackFrames, std::vector<float>& ring);

// The devices the library enumerates; the arrays belong to the context until its next enumeration.
struct DeviceArrays {
    ma_device_info* playback = nullptr;
    ma_uint32 playbackCount = 0;
    ma_device_info* capture = nullptr;
    ma_uint32 captureCount = 0;
};

// False when the library can't enumerate.
bool enumerate(ma_context& context, DeviceArrays& found);

// Whether `text` contains `part`, ignoring the case of ASCII letters.
bool contains(std::string const& text, std::string const& part);

// The entry a requested device name selects: exact, then equal ignoring case, then the longest
// name the request contains, then the first name containing the request. Null when none does.
ma_device_info const* find(ma_device_info const* infos, unsigned int count, std::string const& name);
