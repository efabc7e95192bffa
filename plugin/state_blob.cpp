// Writing and checking state blobs. Counts are added in 64 bits, so no count can wrap a bound.
#include "plugin/state_blob.h"

#include <public.sdk/source/common/memorystream.h>

#include <algorithm>
#include <cstdint>

namespace {

constexpr unsigned char magic[4] = {'Q', 'R', 'S', 'B'};

void appendChunk(std::vector<unsigned char>& blob, Steinberg::MemoryStream const& stream)
{
    auto const count = static_cast<std::uint32_t>(stream.getSize());
    for (int shift = 0; shift < 32; shift += 8)
        blob.push_back(static_cast<unsigned char>(count >> shift));
    auto const* data = reinterpret_cast<unsigned char const*>(stream.getData());
    if (count > 0)
        blob.insert(blob.end(), data, data + count);
}

std::uint64_t countAt(std::vector<unsigned char> const& blob, std::uint64_t offset)
{
    std::uint64_t count = 0;
    for (int i = 3; i >= 0; --i)
        count = count << 8 | blob[offset + i];
    return count;
}

}  // namespace

std::vector<unsigned char> pack(Steinberg::MemoryStream const& componentStream,
                                Steinberg::MemoryStream const& controllerStream)
{
    std::vector<unsigned char> blob(std::begin(magic), std::end(magic));
    appendChunk(blob, componentStream);
    appendChunk(blob, controllerStream);
    return blob;
}

std::optional<StateChunks> unpack(std::vector<unsigned char> const& blob)
{
    std::uint64_t const size = blob.size();
    if (size < 12 || !std::equal(std::begin(magic), std::end(magic), blob.begin()))
        return std::nullopt;
    std::uint64_t const componentCount = countAt(blob, 4);
    if (12 + componentCount > size)  // the component state and the controller count fit
        return std::nullopt;
    std::uint64_t const controllerCount = countAt(blob, 8 + componentCount);
    if (12 + componentCount + controllerCount > size)
        return std::nullopt;

    auto const component = blob.begin() + 8;
    auto const controller = component + static_cast<std::ptrdiff_t>(componentCount) + 4;
    return StateChunks{{component, component + static_cast<std::ptrdiff_t>(componentCount)},
                       {controller, controller + static_cast<std::ptrdiff_t>(controllerCount)}};
}
