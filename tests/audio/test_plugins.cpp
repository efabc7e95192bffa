// The test plug-ins' processing and their destruction record.
#include "tests/audio/test_plugins.h"

#include <algorithm>

TestPlugin::TestPlugin(float scale, float offset, Destructions* destructions)
    : scale(scale), offset(offset), destructions(destructions)
{
}

TestPlugin::~TestPlugin()
{
    if (!destructions)
        return;
    if (processing || std::this_thread::get_id() != destructions->controlThread)
        destructions->misplaced = true;
    ++destructions->count;
}

void TestPlugin::process(float const* const* inputs, float* const* outputs, int count)
{
    processing = true;
    for (int channel = 0; channel < 2; ++channel) {
        for (int i = 0; i < count; ++i)
            outputs[channel][i] = inputs[channel][i] * scale + offset;
    }
    ++blocks;
    frames += count;
    largestBlock = std::max(largestBlock.load(), count);
    smallestBlock = std::min(smallestBlock.load(), count);
    processing = false;
}
