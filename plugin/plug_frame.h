// The host object an editor view asks for a new size through. Owned by its plug-in, never freed
// through release(); calls arrive on the main thread.
#pragma once

#include <pluginterfaces/base/funknownimpl.h>
#include <pluginterfaces/gui/iplugview.h>

#include <functional>

class PlugFrame : public Steinberg::U::ImplementsNonDestroyable<Steinberg::U::Directly<Steinberg::IPlugFrame>> {
public:
    Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) override;

    std::function<void(Steinberg::IPlugView*, Steinberg::ViewRect*)> onResizeView;
};
