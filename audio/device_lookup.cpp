// Finding a device by a forgiving name, and listing the devices the audio library enumerates.
#include "audio/engine_impl.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <span>

namespace {

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The largest channel count among a device's native formats, 0 when it reports none.
int widestFormat(ma_device_info const& info)
{
    int widest = 0;
    ma_uint32 const count = std::min<ma_uint32>(info.nativeDataFormatCount, std::size(info.nativeDataFormats));
    for (ma_uint32 i = 0; i < count; ++i)
        widest = std::max(widest, static_cast<int>(info.nativeDataFormats[i].channels));
    return widest;
}

// The entry of the `count` devices of one `kind` ("input" or "output") that `name` selects; null for an empty
// name, the system's default device, which only a system with a device of that kind has. On false `error`
// holds the sentence.
bool selectDevice(ma_device_info const* infos, unsigned int count, std::string const& name, std::string const& kind,
                  ma_device_info const*& info, std::string& error)
{
    info = name.empty() ? nullptr : ::find(infos, count, name);
    if (name.empty() ? count > 0 : info != nullptr)
        return true;
    error = name.empty() ? "Couldn't find an " + kind + ". Is one plugged in?"
                         : "Couldn't find the " + kind + " \"" + name + "\". Is it plugged in?";
    return false;
}

}  // namespace

bool enumerate(ma_context& context, DeviceArrays& found)
{
    return ma_context_get_devices(&context, &found.playback, &found.playbackCount, &found.capture,
                                  &found.captureCount) == MA_SUCCESS;
}

bool contains(std::string const& text, std::string const& part)
{
    return lowered(text).find(lowered(part)) != std::string::npos;
}

ma_device_info const* find(ma_device_info const* infos, unsigned int count, std::string const& name)
{
    auto const entries = std::span(infos, count);
    for (ma_device_info const& info : entries) {
        if (name == info.name)
            return &info;
    }
    std::string const request = lowered(name);
    for (ma_device_info const& info : entries) {
        if (request == lowered(info.name))
            return &info;
    }
    ma_device_info const* longest = nullptr;
    for (ma_device_info const& info : entries) {
        if (contains(name, info.name) && (!longest || std::strlen(info.name) > std::strlen(longest->name)))
            longest = &info;
    }
    if (longest)
        return longest;
    for (ma_device_info const& info : entries) {
        if (contains(info.name, name))
            return &info;
    }
    return nullptr;
}

bool Engine::Impl::lookUp(std::string const& input, std::string const& output, ma_device_info const*& inputInfo,
                          ma_device_info const*& outputInfo, std::string& error)
{
    if (!contextReady) {
        error = "The system's audio isn't available.";
        return false;
    }
    DeviceArrays found;
    if (!enumerate(audioContext, found)) {
        error = "Couldn't list the audio devices.";
        return false;
    }
    return selectDevice(found.capture, found.captureCount, input, "input", inputInfo, error) &&
           selectDevice(found.playback, found.playbackCount, output, "output", outputInfo, error);
}

DeviceLists Engine::Impl::list()
{
    DeviceLists lists;
    DeviceArrays found;
    if (!contextReady || !enumerate(audioContext, found))
        return lists;

    for (ma_device_info const& entry : std::span(found.capture, found.captureCount)) {
        ma_device_info queried = entry;
        ma_context_get_device_info(&audioContext, ma_device_type_capture, &queried.id, &queried);
        lists.inputs.push_back({entry.name, widestFormat(queried)});
    }
    for (ma_device_info const& entry : std::span(found.playback, found.playbackCount))
        lists.outputs.push_back({entry.name, 2});
    return lists;
}

DeviceLists Engine::devices()
{
    DeviceLists lists;
    // A context that lists nothing at all is as good as one that can't list: worth one fresh try.
    impl->withLiveContext([&] {
        lists = impl->list();
        return !lists.inputs.empty() || !lists.outputs.empty();
    });
    return lists;
}
