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

DeviceLists Engine::devices()
{
    DeviceLists lists;
    if (!impl->contextReady)
        return lists;
    DeviceArrays found;
    if (!enumerate(impl->audioContext, found))
        return lists;

    for (ma_device_info const& entry : std::span(found.capture, found.captureCount)) {
        ma_device_info queried = entry;
        ma_context_get_device_info(&impl->audioContext, ma_device_type_capture, &queried.id, &queried);
        lists.inputs.push_back({entry.name, widestFormat(queried)});
    }
    for (ma_device_info const& entry : std::span(found.playback, found.playbackCount))
        lists.outputs.push_back({entry.name, 2});
    return lists;
}
