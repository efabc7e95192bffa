// What a plug-in's edit controller reports to the host: changes through onEdited, parameter
// values through the edit ring into the next processed block.
#include "plugin/edit_ring.h"
#include "plugin_fixture.h"

#include <gtest/gtest.h>

using Steinberg::kResultFalse;
using Steinberg::kResultOk;

TEST(ComponentHandler, ReportsFinishedEditsRestartsDirtyStateAndClosedEditorsAsChanges)
{
    int changes = 0;  // outlives the plug-in, which reports once more as it goes
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    EXPECT_EQ(callHandler(HandlerCall::endEdit), kResultOk);  // no hook yet: nothing to call
    plugin->closeEditor();
    plugin->onEdited = [&] { ++changes; };
    // A plug-in that releases the handler more often than it took it doesn't free it.
    for (int i = 0; i < 3; ++i)
        recorder().handler->release();

    struct Step {
        HandlerCall call;
        double value;
        int changes;
        Steinberg::tresult result;
    };
    Step const steps[] = {
        {HandlerCall::beginEdit, 0, 0, kResultOk},      {HandlerCall::performEdit, 0.5, 0, kResultOk},
        {HandlerCall::endEdit, 0, 1, kResultOk},        {HandlerCall::restartComponent, 0, 1, kResultOk},
        {HandlerCall::setDirty, 1, 1, kResultOk},       {HandlerCall::setDirty, 0, 0, kResultOk},
        {HandlerCall::startGroupEdit, 0, 0, kResultOk}, {HandlerCall::finishGroupEdit, 0, 1, kResultOk},
        {HandlerCall::requestOpenEditor, 0, 0, kResultFalse},  // no editor opens on the plug-in's say
    };
    for (Step const& step : steps) {
        int const before = changes;
        EXPECT_EQ(callHandler(step.call, 0, step.value), step.result) << int(step.call);
        EXPECT_EQ(changes - before, step.changes) << int(step.call);
    }
    plugin->closeEditor();
    EXPECT_EQ(changes, 5);
}

TEST(EditRing, HandsEachParameterItsLastValueInTheNextBlock)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin && plugin->prepare(48000, 512));
    for (auto [id, value] : {Point{1, 0.1}, {0, 0.2}, {1, 0.3}, {1, 0.4}})
        callHandler(HandlerCall::performEdit, id, value);
    StereoBlock block;
    block.run(*plugin);
    EXPECT_EQ(lastBlockPoints(), (std::vector<Point>{{1, 0.4}, {0, 0.2}}));
    block.run(*plugin);
    EXPECT_TRUE(lastBlockPoints().empty());
}

TEST(EditRing, Keeps1023EditsWhileNoBlockRunsAndDropsTheNewest)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin && plugin->prepare(48000, 512));
    StereoBlock block;
    for (int round = 0; round < 2; ++round) {  // the second round starts where the first wrapped
        for (unsigned int id = 0; id < 1025; ++id)
            callHandler(HandlerCall::performEdit, id, id / 2048.0);
        block.run(*plugin);
        std::vector<Point> const points = lastBlockPoints();
        ASSERT_EQ(points.size(), 1023u);
        for (unsigned int id = 0; id < 1023; ++id)
            EXPECT_EQ(points[id], (Point{id, id / 2048.0}));
    }
}

TEST(EditRing, TakesEditsPushedWhileItDrains)
{
    EditRing ring;
    ring.push({1, 0.5});
    std::vector<unsigned int> taken;
    ring.drain([&](ParamEdit edit) {
        taken.push_back(edit.paramId);
        if (edit.paramId < 3)
            ring.push({edit.paramId + 1, 0});
    });
    EXPECT_EQ(taken, (std::vector<unsigned int>{1, 2, 3}));
}
