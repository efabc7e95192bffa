// What the recorder test module shows the tests that load it: every call the host made into its
// objects, in order, what its processor received, and the host objects it was handed. A test also
// makes the recorder's edit controller call the host's component handler through it.
#pragma once

#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

struct ReceivedPoint {
    unsigned int paramId;
    int sampleOffset;
    double value;
};

// One processing call as the processor saw it.
struct ProcessedBlock {
    int inputChannels = 0;  // of input bus 0
    Steinberg::Vst::ProcessContext context{};
    std::size_t firstPoint = 0;  // this block's parameter points in RecorderProbe::points
    std::size_t pointCount = 0;
};

struct RecorderProbe {
    // "object.method arguments", objects being component, processor, controller, single (a
    // component that is its own controller), view and module.
    std::vector<std::string> calls;

    // Host objects as the plug-ins last received them.
    Steinberg::FUnknown* hostContext = nullptr;
    Steinberg::Vst::IComponentHandler* handler = nullptr;
    Steinberg::IPlugFrame* frame = nullptr;
    Steinberg::IPlugView* attachedView = nullptr;
    void* attachedTo = nullptr;  // the window handle the view was attached to

    // Written by processing, read once processing has stopped.
    ProcessedBlock lastBlock;
    std::array<ReceivedPoint, 1 << 16> points{};
    std::size_t pointCount = 0;
};

enum class HandlerCall {
    beginEdit,
    performEdit,
    endEdit,
    restartComponent,  // flags in paramId
    setDirty,          // state: value != 0
    requestOpenEditor,
    startGroupEdit,
    finishGroupEdit,
};

extern "C" {
using RecorderProbeFunction = RecorderProbe* (*)();
using RecorderCallFunction = Steinberg::tresult (*)(HandlerCall call, unsigned int paramId, double value);
}

// Exported by the module as "recorderProbe" and "recorderCallHandler": the second makes the recorder
// controller that last received a component handler call it, and returns what the handler answered.
