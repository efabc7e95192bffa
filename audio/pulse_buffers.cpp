// The buffers of a device's PulseAudio streams and the ring that couples them, set through the library's own
// stream handles and its table of the client library's functions, so that library is still opened at run
// time only.
#include "audio/engine_impl.h"

#include <algorithm>
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
using GetBufferAttributes = BufferAttributes const* (*)(void* stream);
using OperationState = int (*)(void* operation);
using OperationUnref = void (*)(void* operation);
using Iterate = int (*)(void* mainloop, int block, int* result);
constexpr int operationRunning = 0;
constexpr std::uint32_t serverChooses = ~std::uint32_t{0};

// The ring holds three prefills (at least 2048 frames): room for the largest burst either side brings on
// top of the level it keeps (a whole quantum on PipeWire), while a level raised by the server playing
// silence (a stream it starved) is brought down again before the latency grows far.
constexpr ma_uint32 smallestRingFrames = 2048;
constexpr ma_uint32 ringPrefills = 3;

// Asks the server for `wanted` and returns what it granted; `wanted` itself where it can't be asked.
BufferAttributes setAttributes(ma_device& device, void* stream, BufferAttributes const& wanted)
{
    auto const& pulse = device.pContext->pulse;
    auto const set = reinterpret_cast<SetBufferAttributes>(pulse.pa_stream_set_buffer_attr);
    auto const get = reinterpret_cast<GetBufferAttributes>(pulse.pa_stream_get_buffer_attr);
    auto const state = reinterpret_cast<OperationState>(pulse.pa_operation_get_state);
    auto const unref = reinterpret_cast<OperationUnref>(pulse.pa_operation_unref);
    auto const iterate = reinterpret_cast<Iterate>(pulse.pa_mainloop_iterate);
    if (!set || !get || !state || !unref || !iterate || !stream)
        return wanted;
    void* operation = set(stream, &wanted, nullptr, nullptr);
    if (!operation)
        return wanted;
    // The device's own loop runs on its thread only once started; until then this thread may turn it.
    while (state(operation) == operationRunning && iterate(device.pulse.pMainLoop, 1, nullptr) >= 0) {
    }
    unref(operation);
    BufferAttributes const* granted = get(stream);
    return granted ? *granted : wanted;
}

// `bytes` of a stream in `format` as frames of the device's own rate, where the ring counts them.
ma_uint32 ringFrames(std::uint32_t bytes, ma_format format, ma_uint32 channels, ma_uint32 rate, ma_uint32 deviceRate)
{
    if (bytes == serverChooses)
        return 0;
    std::uint64_t const frames = bytes / ma_get_bytes_per_frame(format, channels);
    return static_cast<ma_uint32>(frames * deviceRate / std::max<ma_uint32>(rate, 1));
}

// Replaces the library's ring (five capture periods, two of them silence) by one in `storage` of `frames`,
// `prefill` of them silence. Before the start no callback touches the ring.
void replaceRing(ma_device& device, ma_uint32 frames, ma_uint32 prefill, std::vector<float>& storage)
{
    ma_pcm_rb& ring = device.duplexRB.rb;
    ma_format const format = ring.format;
    ma_uint32 const channels = ring.channels;
    if (format != ma_format_f32 || channels == 0)
        return;
    storage.assign(std::size_t{frames} * channels, 0.0f);
    // Tried aside first, so the device keeps its own ring where this one can't be made.
    ma_pcm_rb trial;
    if (ma_pcm_rb_init(format, channels, frames, storage.data(), nullptr, &trial) != MA_SUCCESS)
        return;
    ma_pcm_rb_uninit(&trial);
    ma_pcm_rb_uninit(&ring);
    ma_pcm_rb_init(format, channels, frames, storage.data(), nullptr, &ring);
    ma_pcm_rb_seek_write(&ring, prefill);
}

}  // namespace

void setPulseBuffers(ma_device& device, ma_uint32 playbackFrames, std::vector<float>& ring)
{
    auto const& playback = device.playback;
    auto const& capture = device.capture;
    std::uint32_t const playbackFrameBytes = ma_get_bytes_per_frame(playback.internalFormat, playback.internalChannels);
    std::uint32_t const captureFrameBytes = ma_get_bytes_per_frame(capture.internalFormat, capture.internalChannels);

    BufferAttributes const output = setAttributes(
        device, device.pulse.pStreamPlayback,
        {serverChooses, playbackFrames * playbackFrameBytes, serverChooses, serverChooses, serverChooses});
    // The server's own maximum, so a burst larger than a few periods (a busy server's, or a server that
    // moves audio in large quanta) waits for the host instead of being dropped.
    BufferAttributes const input = setAttributes(
        device, device.pulse.pStreamCapture,
        {serverChooses, serverChooses, serverChooses, serverChooses,
         capture.internalPeriodSizeInFrames * captureFrameBytes});

    // Capture and playback meet in the ring: playback asks for its whole free buffer at once (all of it at
    // the start), capture brings what the server moved. Whatever the ring lacks is played as silence and
    // whatever it can't hold is dropped, so it starts with one buffer and one request of playback and one
    // capture fragment, and has room for twice as much again.
    ma_uint32 const rate = device.sampleRate;
    ma_uint32 const prefill =
        ringFrames(output.tlength + output.minreq, playback.internalFormat, playback.internalChannels,
                   playback.internalSampleRate, rate) +
        ringFrames(input.fragsize, capture.internalFormat, capture.internalChannels, capture.internalSampleRate, rate);
    replaceRing(device, std::max(smallestRingFrames, ringPrefills * prefill), prefill, ring);
}
