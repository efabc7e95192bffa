// The host object a VST 3 edit controller reports to: parameter values go to onEdit, anything
// that may change the plug-in's saved state to onChanged. Calls arrive on the main thread.
#pragma once

#include <pluginterfaces/base/funknownimpl.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

#include <functional>

// Owned by its plug-in, never freed through release().
class ComponentHandler
    : public Steinberg::U::ImplementsNonDestroyable<
          Steinberg::U::Directly<Steinberg::Vst::IComponentHandler, Steinberg::Vst::IComponentHandler2>> {
public:
    Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32 flags) override;

    Steinberg::tresult PLUGIN_API setDirty(Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API requestOpenEditor(Steinberg::FIDString name) override;
    Steinberg::tresult PLUGIN_API startGroupEdit() override;
    Steinberg::tresult PLUGIN_API finishGroupEdit() override;

    std::function<void(unsigned int paramId, double value)> onEdit;
    std::function<void()> onChanged;

private:
    void changed() const;
};
