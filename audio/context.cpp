// The engine's audio library context: set up in the library's default backend order, and built afresh
// while no device is open when it may have outlived its sound server.
#include "audio/engine_impl.h"
#include "audio/realtime.h"

#include <cstddef>

namespace {

// The backend the default order tries first; the context falls back past it only when it's unreachable.
ma_backend preferredBackend()
{
    ma_backend backends[MA_BACKEND_COUNT];
    std::size_t count = 0;
    if (ma_get_enabled_backends(backends, MA_BACKEND_COUNT, &count) != MA_SUCCESS || count == 0)
        return ma_backend_null;
    return backends[0];
}

}  // namespace

void Engine::Impl::openContext()
{
    // The device's thread is scheduled in real time where the system allows it, so busy programs beside the
    // host can't make it late for the sound server; elsewhere a normal thread plays too.
    ma_context_config config = ma_context_config_init();
    config.threadPriority = realTimeAllowed() ? ma_thread_priority_realtime : ma_thread_priority_default;
    contextReady = ma_context_init(nullptr, 0, &config, &audioContext) == MA_SUCCESS;
    lostOnContext = false;
}

void Engine::Impl::closeContext()
{
    if (contextReady)
        ma_context_uninit(&audioContext);
    contextReady = false;
}

bool Engine::Impl::withLiveContext(std::function<bool()> const& attempt)
{
    // A context can't be replaced under an open device.
    if (deviceOpen)
        return attempt();
    bool const renewed = !contextReady || lostOnContext || audioContext.backend != preferredBackend();
    if (renewed)
        renewContext();
    if (attempt())
        return true;
    if (renewed)
        return false;
    renewContext();
    return attempt();
}

void Engine::Impl::renewContext()
{
    closeContext();
    openContext();
}
