// The playback buffer of a device's PulseAudio stream, set through the library's own stream handle and its
// table of the client library's functions, so that library is still opened at run time only.
#include "audio/engine_impl.h"

#include <cstdint>

namespace {

// The client library's buffer attributes and the calls used here, as it declares them.
struct BufferAttributes {
    std::uint32_t maxlength;
    std::uint32_t tlength;
    std::uint32_t prebuf;
    std::uint32_t minreq;
    std::uint32_t fragsize;
};
using SetBufferAttributes = void* (*)(void* stream, BufferAttributes const* attributes,
                                      void (*done)(void* stream, int success, void* user), void* user);
using OperationState = int (*)(void* operation);
using OperationUnref = void (*)(void* operation);
using Iterate = int (*)(void* mainloop, int block, int* result);
constexpr int operationRunning = 0;
constexpr std::uint32_t serverChooses = ~std::uint32_t{0};

}  // namespace

void setPulsePlaybackBuffer(ma_device& device, ma_uint32 frames)
{
    auto const& pulse = device.pContext->pulse;
    auto const set = reinterpret_cast<SetBufferAttributes>(pulse.pa_stream_set_buffer_attr);
    auto const state = reinterpret_cast<OperationState>(pulse.pa_operation_get_state);
    auto const unref = reinterpret_cast<OperationUnref>(pulse.pa_operation_unref);
    auto const iterate = reinterpret_cast<Iterate>(pulse.pa_mainloop_iterate);
    if (!set || !state || !unref || !iterate || !device.pulse.pStreamPlayback)
        return;

    std::uint32_t const frameBytes = ma_get_bytes_per_frame(device.playback.internalFormat,
                                                            device.playback.internalChannels);
    BufferAttributes const wanted{serverChooses, frames * frameBytes, serverChooses, serverChooses, serverChooses};
    void* operation = set(device.pulse.pStreamPlayback, &wanted, nullptr, nullptr);
    if (!operation)
        return;
    // The device's own loop runs on its thread only once started; until then this thread may turn it.
    while (state(operation) == operationRunning && iterate(device.pulse.pMainLoop, 1, nullptr) >= 0) {
    }
    unref(operation);
}
