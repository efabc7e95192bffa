// What a plug-in's edit controller reports to the host: changes through onEdited, parameter
// values through the edit ring into the next processed block.
#include "plugin/edit_ring.h"
#include "plugin_fixture.h"

#include <gtest/gtest.h>

using Steinberg::kResultFalse;
using Steinberg::kResultOk;

namespace {

struct Received {
    unsigned int paramId;
    double value;
    bool operator==(Received const&) const = default;
};

std::ostream& operator<<(std::ostream& out, Received const& r)
{
    return out << r.paramId << "=" << r.value;
}

// The parameter points the processor got in its last block (all at sample offset 0).
std::vector<Received> lastBlockPoints()
{
    RecorderProbe const& probe = recorder();
    std::vector<Received> points;
    for (std::size_t i = 0; i < probe.lastBlock.pointCount; ++i) {
        ReceivedPoint const& point = probe.points[probe.lastBlock.firstPoint + i];
        EXPECT_EQ(point.sampleOffset, 0);
        points.push_back({point.paramId, point.value});
    }
    return points;
}

std::unique_ptr<Plugin> preparedRecorder()
{
    auto plugin = loadRecorder("Separate Controller");
    if (plugin) {
        EXPECT_TRUE(plugin->prepare(48000, 512));
    }
    return plugin;
}

}  // namespace

TEST(ComponentHandler, ReportsFinishedEditsRestartsAndDirtyStateAsChanges)
{
    int changes = 0;  // outlives the plug-in, which reports once more as it goes
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    EXPECT_EQ(callHandler(HandlerCall::endEdit), kResultOk);  // no hook yet: nothing to call
    plugin->onEdited = [&] { ++changes; };

    struct Step {
        HandlerCall call;
        double value;
        int changes;
        Steinberg::tresult result;
    };
    Step const steps[] = {
        {HandlerCall::beginEdit, 0, 0, kResultOk},         {HandlerCall::performEdit, 0.5, 0, kResultOk},
        {HandlerCall::endEdit, 0, 1, kResultOk},           {HandlerCall::restartComponent, 0, 1, kResultOk},
        {HandlerCall::setDirty, 1, 1, kResultOk},          {HandlerCall::setDirty, 0, 0, kResultOk},
        {HandlerCall::startGroupEdit, 0, 0, kResultOk},    {HandlerCall::finishGroupEdit, 0, 1, kResultOk},
        {HandlerCall::requestOpenEditor, 0, 0, kResultFalse},
    };
    for (Step const& step : steps) {
        int const before = changes;
        EXPECT_EQ(callHandler(step.call, 0, step.value), step.result) << int(step.call);
        EXPECT_EQ(changes - before, step.changes) << int(step.call);
    }
    EXPECT_EQ(callHandler(HandlerCall::restartComponent, 0x7FFFFFFF), kResultOk);
    EXPECT_EQ(changes, 5);
}

TEST(ComponentHandler, AnswersItsTwoInterfacesAndIsNeverFreedByReleases)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    Steinberg::Vst::IComponentHandler* handler = recorder().handler;
    ASSERT_NE(handler, nullptr);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(handler->addRef(), 1000u);
        EXPECT_EQ(handler->release(), 1000u);
        EXPECT_EQ(handler->release(), 1000u);
    }

    void* face = nullptr;
    EXPECT_EQ(handler->queryInterface(Steinberg::FUnknown::iid, &face), kResultOk);
    EXPECT_EQ(face, handler);
    EXPECT_EQ(handler->queryInterface(Steinberg::Vst::IComponentHandler2::iid, &face), kResultOk);
    EXPECT_NE(face, nullptr);
    EXPECT_EQ(handler->queryInterface(Steinberg::IPlugFrame::iid, &face), Steinberg::kNoInterface);
    EXPECT_EQ(face, nullptr);
    EXPECT_EQ(handler->queryInterface(Steinberg::FUnknown::iid, nullptr), Steinberg::kInvalidArgument);
}

TEST(EditRing, HandsEachParameterItsLastValueInTheNextBlock)
{
    auto plugin = preparedRecorder();
    ASSERT_TRUE(plugin);
    for (auto [id, value] : {std::pair{1u, 0.1}, {0u, 0.2}, {1u, 0.3}, {1u, 0.4}})
        callHandler(HandlerCall::performEdit, id, value);
    StereoBlock block;
    block.run(*plugin);
    EXPECT_EQ(lastBlockPoints(), (std::vector<Received>{{1, 0.4}, {0, 0.2}}));
    block.run(*plugin);
    EXPECT_TRUE(lastBlockPoints().empty());
}

TEST(EditRing, Keeps1023EditsWhileNoBlockRunsAndDropsTheNewest)
{
    auto plugin = preparedRecorder();
    ASSERT_TRUE(plugin);
    StereoBlock block;
    for (int round = 0; round < 2; ++round) {  // the second round starts where the first wrapped
        for (unsigned int id = 0; id < 1025; ++id)
            callHandler(HandlerCall::performEdit, id, id / 2048.0);
        block.run(*plugin);
        std::vector<Received> const points = lastBlockPoints();
        ASSERT_EQ(points.size(), 1023u);
        for (unsigned int id = 0; id < 1023; ++id)
            EXPECT_EQ(points[id], (Received{id, id / 2048.0}));
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

TEST(OnEdited, FollowsEveryCloseAndTheEndOfThePlugIn)
{
    int calls = 0;
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    plugin->closeEditor();  // no hook installed: nothing happens
    plugin->onEdited = [&] { ++calls; };
    plugin->closeEditor();
    plugin->closeEditor();
    EXPECT_EQ(calls, 2);
    plugin.reset();
    EXPECT_EQ(calls, 3);
}
