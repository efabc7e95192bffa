// Opens a device with the audio library so that a failed open leaves nothing behind. The library's own
// clean-up returns early for a device that never reached its stopped state, and its PulseAudio backend
// keeps its server connection when a stream fails; either would leave a sound-server client open per try.
#include "audio/engine_impl.h"

namespace {

// The library records the backend's formats right after the backend set its part of the device up.
bool backendSetUp(ma_device const& device)
{
    return device.capture.internalFormat != ma_format_unknown || device.playback.internalFormat != ma_format_unknown;
}

// A backend that calls the device back by itself rather than from the library's worker thread.
bool asynchronous(ma_context const& context)
{
    auto const& backend = context.callbacks;
    return !backend.onDeviceRead && !backend.onDeviceWrite && !backend.onDeviceDataLoop;
}

// What the library's uninit releases, for a device whose worker thread never started.
void releaseHalfOpen(ma_device& device)
{
    ma_context& context = *device.pContext;
    if (context.callbacks.onDeviceUninit)
        context.callbacks.onDeviceUninit(&device);
    ma_event_uninit(&device.stopEvent);
    ma_event_uninit(&device.startEvent);
    ma_event_uninit(&device.wakeupEvent);
    ma_mutex_uninit(&device.startStopLock);
    if (asynchronous(context) && device.type == ma_device_type_duplex)
        ma_duplex_rb_uninit(&device.duplexRB);
    ma_data_converter_uninit(&device.capture.converter, &context.allocationCallbacks);
    ma_data_converter_uninit(&device.playback.converter, &context.allocationCallbacks);
    ma_free(device.playback.pInputCache, &context.allocationCallbacks);
    ma_free(device.capture.pIntermediaryBuffer, &context.allocationCallbacks);
    ma_free(device.playback.pIntermediaryBuffer, &context.allocationCallbacks);
}

// The server connection the PulseAudio backend made for a device whose streams then failed (it released
// the streams itself).
void releasePulseConnection(ma_device& device)
{
    using Release = void (*)(void*);
    auto const& pulse = device.pContext->pulse;
    if (device.pulse.pPulseContext) {
        reinterpret_cast<Release>(pulse.pa_context_disconnect)(device.pulse.pPulseContext);
        reinterpret_cast<Release>(pulse.pa_context_unref)(device.pulse.pPulseContext);
    }
    if (device.pulse.pMainLoop)
        reinterpret_cast<Release>(pulse.pa_mainloop_free)(device.pulse.pMainLoop);
}

}  // namespace

bool openDevice(ma_context& context, ma_device_config const& config, ma_device& device)
{
    if (ma_device_init(&context, &config, &device) == MA_SUCCESS)
        return true;
    // No context recorded: the library refused the configuration before setting anything up.
    if (device.pContext != nullptr) {
        if (backendSetUp(device))
            releaseHalfOpen(device);
        else if (context.backend == ma_backend_pulseaudio)
            releasePulseConnection(device);
    }
    device = ma_device{};
    return false;
}
