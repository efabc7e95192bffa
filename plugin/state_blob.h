// The state blob: "QRSB", then the component's state and the edit controller's state, each as an
// unsigned 32-bit little-endian byte count followed by that many bytes.
#pragma once

#include <optional>
#include <vector>

namespace Steinberg {
class MemoryStream;
}

// The blob holding what the two streams hold.
std::vector<unsigned char> pack(Steinberg::MemoryStream const& componentStream,
                                Steinberg::MemoryStream const& controllerStream);

struct StateChunks {
    std::vector<unsigned char> component;
    std::vector<unsigned char> controller;
};

// The two states in a blob; empty when the blob is too short, has another magic or a count runs
// past its end. Bytes after the controller state are ignored.
std::optional<StateChunks> unpack(std::vector<unsigned char> const& blob);
